// The scratch field with texts users paste: a line too long to lay out at
// once is shown in pieces but reads back whole; local text files fill it.
#include "support/formfixture.h"

#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace lesemund;
using namespace lesemund::testing;

TEST(ScratchField, ALongLineReadsBackAsSetAndAsEditedAtTheSeams) {
    FormFixture f;
    f.showActive();
    ScratchField &field = *f.form->Text3;
    QString digits;
    for (int i = 0; digits.size() < 2 * ScratchField::kParagraphLength + 100; ++i)
        digits += QChar(u'0' + i % 10);
    const QString text = digits + "\r" + QString("Wort und Satz ").repeated(700) + "\r\nEnde";
    field.setText(text);
    f.form->Command15->click();
    EXPECT_EQ(f.textFile(), text.toLatin1());
    ASSERT_GT(field.document()->blockCount(), 3) << "the long lines are not cut";
    field.setFocus(Qt::OtherFocusReason);
    QString expected = text;
    expected.replace(digits.size(), 1, "\r\n");
    const auto press = [&](int position, Qt::Key key) {
        QTextCursor cursor = field.textCursor();
        cursor.setPosition(position);
        field.setTextCursor(cursor);
        QTest::keyClick(&field, key);
    };
    const auto seam = [&] { return field.document()->findBlockByNumber(1).position(); };
    // Backspace at the start of the second piece takes the digit before it.
    const int first = seam();
    press(first, Qt::Key_Backspace);
    expected.remove(first - 2, 1);
    EXPECT_EQ(field.text(), expected);
    // Enter within a piece breaks the line there and nowhere else.
    const int within = seam() + 10;
    press(within, Qt::Key_Return);
    expected.insert(within - 1, "\r\n");
    EXPECT_EQ(field.text(), expected);
    // The seam is one place for the arrow keys: Right then Backspace at the
    // end of the first piece take the first digit of the next.
    const int next = seam();
    press(next - 1, Qt::Key_Right);
    QTest::keyClick(&field, Qt::Key_Backspace);
    expected.remove(next - 1, 1);
    EXPECT_EQ(field.text(), expected);
}

TEST(ScratchField, LocalTextLoaderReadsRegularFilesOnlyAndSaysWhereItCuts) {
    FormFixture f;
    Form1 &w = *f.form;
    f.data.write("brief.txt", "Gr\xFC\xDF" "e\r\n");
    w.Furl->setText(f.data.path("brief.txt"));
    w.Command7->click();
    EXPECT_EQ(w.Text3->text(), QString::fromUtf8("Grüße\r\n"));
    f.data.write("lang.txt", QByteArray(5'000'010, 'a'));
    w.Furl->setText(f.data.path("lang.txt"));
    w.Command7->click();
    EXPECT_TRUE(w.Text3->text().startsWith(QString(5'000'000, QChar('a')) + "\r\n["));
    EXPECT_TRUE(w.Text3->text().endsWith("abgeschnitten.]"));
    const QString fifo = f.data.path("pipe.txt");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString &path : {fifo, f.data.dataFolder(), QString("/dev/zero"), QString("/gibt/es/nicht")}) {
        w.Text3->setText("alt");
        w.Furl->setText(path);
        w.Command7->click(); // must return at once
        EXPECT_EQ(w.Text3->text(), QString()) << path.toStdString();
    }
}
