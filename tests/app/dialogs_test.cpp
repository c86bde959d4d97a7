// The modal boxes the user answers by keyboard, and opening targets in the
// desktop's programs.
#include "app/questionbox.h"
#include "support/formfixture.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

// Presses `key` in the modal box that is open then; returns its title.
void answerNextBox(Qt::Key key, QString *title = nullptr, int times = 1) {
    QTimer::singleShot(50, [=] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box)
            return;
        if (title)
            *title = box->windowTitle();
        QTest::keyClick(box, key);
        if (times > 1)
            answerNextBox(key, nullptr, times - 1);
    });
}

} // namespace

TEST(QuestionBox, JMeansYesAndNMeansNo) {
    QString title;
    answerNextBox(Qt::Key_J, &title);
    EXPECT_TRUE(QuestionBox::ask(nullptr));
    EXPECT_EQ(title, "Warnung");
    answerNextBox(Qt::Key_N);
    EXPECT_FALSE(QuestionBox::ask(nullptr));
}

TEST(QuestionBox, ClosingWithTheRealBoxSavesOnJ) {
    FormFixture f;
    f.form->askSaveQuestion = [&] { return QuestionBox::ask(f.form.get()); };
    f.timer(4).fire();
    f.form->Check3->setValue(1);
    answerNextBox(Qt::Key_J);
    f.form->close();
    EXPECT_TRUE(f.data.read("optionen.ini").contains("BeiTextURL=1"));
    EXPECT_EQ(f.processEnds, 1);
}

TEST(QuestionBox, AFailedSaveKeepsAWarningOpenUntilOk) {
    FormFixture f;
    f.form->askSaveQuestion = [&] { return QuestionBox::ask(f.form.get()); };
    f.timer(4).fire();
    f.form->Check3->setValue(1);
    QFile::remove(f.data.path("optionen.ini"));
    QDir().mkpath(f.data.path("optionen.ini"));
    QString title, text;
    QTimer::singleShot(50, [&] {
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_J);
        QTimer::singleShot(50, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            QTest::keyClick(box, Qt::Key_Return);
        });
    });
    f.form->close();
    EXPECT_EQ(title, "Warnung");
    EXPECT_EQ(text, "Die Einstellungen konnten nicht gespeichert werden!");
    EXPECT_EQ(f.processEnds, 1);
}

TEST(ShellOpening, HostileAddressGoesToTheOpenerAsOneArgumentAndTheCursorComesBack) {
    FormFixture f;
    const QString hostile = "http://h.example/a;rm -rf ~ $(touch /tmp/x) 'q\" `id`";
    f.form->Furl->setText(hostile);
    f.form->Command1->click();
    EXPECT_EQ(f.shell->opened, QStringList{hostile});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    f.form->URLGoTo(0, QString());
    EXPECT_EQ(f.shell->opened.size(), 1) << "nothing to open";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    f.form->Furl->setText("--help");
    f.form->Command1->click();
    EXPECT_EQ(f.shell->opened.size(), 1) << "an option-like address is refused";
    EXPECT_EQ(f.form->Label1->caption(), QString::fromUtf8("Die Adresse ist nicht gültig!"));
}

TEST(TextTools, ParsingRemovesSlashesWithOneBoxEach) {
    FormFixture f;
    f.form->Furl->setText("a/b/c");
    answerNextBox(Qt::Key_Return, nullptr, 2);
    f.form->Command5->click();
    EXPECT_EQ(f.form->Furl->text(), "abc");
    f.form->Furl->setText("a/b");
    f.form->Command9->click();
    EXPECT_EQ(f.form->Furl->text(), "a\\b");
}
