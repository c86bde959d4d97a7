// The file list, reading documents through the word processor over the
// document readers, and the local selection watcher.
#include "platform/readerwordprocessor.h"
#include "support/formfixture.h"

#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace lesemund;
using namespace lesemund::testing;

namespace {

const QByteArray kDirective = "#voice=name:qvx.de.tonra#";

// A shown window on an application folder that is also the current folder
// and holds these files (name, text).
struct Docs {
    struct Cwd {
        QString old = QDir::currentPath();
        ~Cwd() { QDir::setCurrent(old); }
    } cwd;
    FormFixture f;
    Form1 &w = *f.form;
    explicit Docs(const std::map<QString, QByteArray> &files = {})
        : f(true, [&](platform::Services &s) {
              s.word = std::make_shared<platform::ReaderWordProcessorFactory>();
              QDir::setCurrent(s.appFolder);
              for (const auto &[name, text] : files)
                  put(name, text);
          }) {
        f.showActive();
    }
    static void put(const QString &name, const QByteArray &text) {
        QFile f(name);
        ASSERT_TRUE(f.open(QFile::WriteOnly) && f.write(text) == text.size());
    }
};

} // namespace

// Plain visible .txt, .doc, .rtf, .docx, .odt and .pdf files in German order (an umlaut with
// its vowel); the selection is said in the window voice; Enter reads the
// document, twice when pressed twice.
TEST(FileList, ListsSpeaksTheSelectionAndReadsOnEnter) {
    Docs d({{"b.doc", "x"}, {"A.TXT", "x"}, {"c.rtf", "x"}, {"notiz.md", "x"}, {".versteckt.txt", "x"},
            {"d.DOCX", "x"}, {"e.odt", "x"}, {"f.Pdf", "x"}, {"g.docm", "x"}, {"h.pdfx", "x"},
            {"Ärger mit -strich.txt", "Absatz eins\r\nAbsatz zwei"}});
    QDir().mkdir("ordner.txt");
    d.w.Command13->click();
    QStringList names;
    for (int i = 0; i < d.w.File1->count(); ++i)
        names << d.w.File1->item(i)->text();
    EXPECT_EQ(names, (QStringList{"A.TXT", "Ärger mit -strich.txt", "b.doc", "c.rtf", "d.DOCX", "e.odt", "f.Pdf"}));
    QTest::keyClick(d.w.File1, Qt::Key_Down);
    QTest::keyClick(d.w.File1, Qt::Key_Down);
    EXPECT_EQ(d.f.windowFile(), kDirective + "\xC4rger mit -strich.txt");
    const auto n = d.f.page->clicks.size();
    QTest::keyClick(d.w.File1, Qt::Key_Return);
    QTest::keyClick(d.w.File1, Qt::Key_Return);
    EXPECT_EQ(d.f.page->clicks.mid(n), (QStringList{"user1", "user1"}));
    EXPECT_EQ(d.w.Text3->text(), "Absatz eins\r\nAbsatz zwei");
    EXPECT_EQ(d.f.textFile(), kDirective + "Absatz eins\r\nAbsatz zwei\r\n");
}

// The last paragraph mark is dropped and each CR gets an LF; a document
// that cannot be read leaves the text as it was.
TEST(Extraction, GivesTheTextWithoutItsLastParagraphMark) {
    Docs d({{"a.txt", "A"}, {"zwei.txt", "Text\r\n\r\n"}, {"brief.txt", "Hallo"}});
    d.w.ExtractDocumentText(d.f.data.appFolder() + "/a.txt");
    EXPECT_EQ(d.w.Text3->text(), "A");
    d.w.ExtractDocumentText(d.f.data.appFolder() + "/fehlt.doc");
    EXPECT_EQ(d.w.Text3->text(), "A");
    d.w.ExtractDocumentText(d.f.data.appFolder() + "/zwei.txt");
    EXPECT_EQ(d.w.Text3->text(), "Text\r\n");
    d.w.Furl->setText("brief.txt"); // the address field's document, said in the window voice
    d.w.Command4->click();
    EXPECT_EQ(d.f.windowFile(), kDirective + "Hallo\r\n");
}

// Without a selection (also with a current item that is not selected) each
// tick says so; otherwise the same text as last time is extracted again and
// a changed one said, also one longer than a line field holds.
TEST(SelectionWatcher, ExtractsThenSpeaksOnTheNextTick) {
    for (const QByteArray &version : {QByteArray("Version "), QByteArray(42'000, 'v')}) {
        Docs d({{"a.txt", version + "1"}});
        d.w.Check4->setValue(1);
        auto &tick = d.f.timer(3);
        d.w.File1->setFocus();
        auto n = d.f.page->clicks.size();
        tick.fire();
        tick.fire();
        EXPECT_EQ(d.w.Label1->caption(), "Keine Lokale Datei ausgewählt!");
        EXPECT_EQ(d.f.page->clicks.size(), n + 2);
        EXPECT_EQ(d.w.Text3->text(), "");
        d.w.File1->setCurrentRow(0);
        tick.fire(); // equal (both empty): extract
        EXPECT_TRUE(d.w.Text3->text() == version + "1");
        n = d.f.page->clicks.size();
        tick.fire(); // differs: speak
        tick.fire(); // the same again: extract, nothing said
        EXPECT_EQ(d.f.page->clicks.size(), n + 1) << version.size();
        EXPECT_TRUE(d.f.textFile() == kDirective + version + "1\r\n");
        Docs::put("a.txt", version + "2");
        tick.fire();
        tick.fire();
        EXPECT_TRUE(d.f.textFile() == kDirective + version + "2\r\n") << version.size();
    }
}
