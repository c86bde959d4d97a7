// The word processor of the program over the document reader: the calls of
// the extraction and what each gives in every state, that the fake word
// processor of the window tests gives the same, and that a document is
// never changed.
#include "docreaderhelpers.h"

#include "platform/readerwordprocessor.h"
#include "support/fakewordprocessor.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <functional>

namespace lesemund::testing {
namespace {

using platform::WordProcessor;

const QString kVar = QStringLiteral("MyVar");

QString str(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }
QString str(const std::optional<QString> &s) { return s.value_or(QStringLiteral("<none>")); }

// The calls of the extraction, one after the other; returns what the
// variable gave back (empty when that call failed).
QString extractionSequence(WordProcessor &word, const QString &path) {
    word.setVisible(false);
    word.documentsOpen(path, true);
    word.editSelectAll();
    word.setDocumentVar(kVar, word.selection());
    const QString s = word.getDocumentVar(kVar).value_or(QString());
    word.documentsClose(0);
    word.quit();
    return s;
}

class ReaderWordProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(writeBytes(two, "Erster\r\nZweiter"));
        ASSERT_TRUE(writeBytes(other, "anders"));
        ASSERT_TRUE(writeBytes(empty, ""));
        fake.setDocument(two, twoText);
        fake.setDocument(other, QStringLiteral("anders") + CR);
        fake.setDocument(empty, QString(CR));
    }
    QTemporaryDir dir;
    const QString two = dir.filePath("zwei.txt"), other = dir.filePath("anders.txt"), empty = dir.filePath("leer.txt");
    const QString twoText = QStringLiteral("Erster") + CR + QStringLiteral("Zweiter") + CR;
    platform::ReaderWordProcessorFactory factory{std::make_shared<platform::DocumentReader>(fastReadersOnly())};
    FakeWordProcessorFactory fake;
};

// Each call in turn, on the real word processor and on the fake, with what
// it must give.
TEST_F(ReaderWordProcessorTest, EachCallGivesTheSameOnTheRealAndTheFake) {
    const QString value = QStringLiteral("Grüße\r\n\t€ ") + QString(100000, QLatin1Char('x'));
    const std::pair<std::function<QString(WordProcessor &)>, QString> steps[] = {
        // Without an open document every call fails.
        {[](WordProcessor &w) { return w.selection(); }, QString()},
        {[](WordProcessor &w) { return str(w.editSelectAll()); }, "false"},
        {[](WordProcessor &w) { return str(w.getDocumentVar(kVar)); }, "<none>"},
        {[](WordProcessor &w) { return str(w.setDocumentVar(kVar, "x")); }, "false"},
        {[](WordProcessor &w) { return str(w.documentsClose(0)); }, "false"},
        {[&](WordProcessor &w) { return str(w.documentsOpen(dir.filePath("fehlt.doc"), true)); }, "false"},
        {[](WordProcessor &w) { return str(w.setVisible(false)); }, "true"},
        // Nothing is selected before editSelectAll; then the whole text.
        {[&](WordProcessor &w) { return str(w.documentsOpen(two, true)); }, "true"},
        {[](WordProcessor &w) { return w.selection(); }, QString()},
        {[](WordProcessor &w) { return str(w.editSelectAll()); }, "true"},
        {[](WordProcessor &w) { return w.selection(); }, twoText},
        // Variables come back unchanged; a name never set is empty.
        {[&](WordProcessor &w) { return str(w.setDocumentVar(kVar, value)); }, "true"},
        {[](WordProcessor &w) { return str(w.getDocumentVar(kVar)); }, value},
        {[](WordProcessor &w) { return str(w.getDocumentVar("Anders")); }, QString()},
        // The last opened document is the active one, with its own variables.
        {[&](WordProcessor &w) { return str(w.documentsOpen(other, true)); }, "true"},
        {[](WordProcessor &w) { return str(w.editSelectAll()); }, "true"},
        {[](WordProcessor &w) { return w.selection(); }, QStringLiteral("anders") + CR},
        {[](WordProcessor &w) { return str(w.getDocumentVar(kVar)); }, QString()},
        // Close closes every open document and drops its variables.
        {[](WordProcessor &w) { return str(w.documentsClose(0)); }, "true"},
        {[](WordProcessor &w) { return str(w.editSelectAll()); }, "false"},
        {[](WordProcessor &w) { return str(w.getDocumentVar(kVar)); }, "<none>"},
        {[](WordProcessor &w) { return str(w.documentsClose(0)); }, "false"},
        {[&](WordProcessor &w) { return str(w.documentsOpen(two, true)); }, "true"},
        {[](WordProcessor &w) { return str(w.getDocumentVar(kVar)); }, QString()},
        // After quit nothing works any more.
        {[](WordProcessor &w) { return str(w.quit()); }, "true"},
        {[](WordProcessor &w) { return str(w.quit()); }, "false"},
        {[&](WordProcessor &w) { return str(w.documentsOpen(two, true)); }, "false"},
        {[](WordProcessor &w) { return str(w.setVisible(false)); }, "false"},
        {[](WordProcessor &w) { return w.selection(); }, QString()},
    };
    auto real = factory.create();
    auto double_ = fake.create();
    ASSERT_TRUE(real && double_);
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(steps[i].first(*real), steps[i].second) << "real, step " << i;
        EXPECT_EQ(steps[i].first(*double_), steps[i].second) << "fake, step " << i;
    }
    EXPECT_FALSE(factory.create()->setVisible(true)) << "there is no window to show";
}

TEST_F(ReaderWordProcessorTest, ExtractionGivesTheSameOnTheRealAndTheFake) {
    for (const auto &[path, want] : {std::pair{two, twoText}, {empty, QString(CR)}, {dir.filePath("fehlt.doc"), QString()}}) {
        EXPECT_EQ(extractionSequence(*factory.create(), path), want) << path.toStdString();
        EXPECT_EQ(extractionSequence(*fake.create(), path), want) << path.toStdString();
    }
}

TEST_F(ReaderWordProcessorTest, DocumentIsNeverChangedEvenWhenClosingWithSave) {
    const QString doc = dir.filePath("brief.doc");
    ASSERT_TRUE(QFile::copy(fixturePath(QStringLiteral("absaetze.doc")), doc));
    const auto before = snapshot(doc);
    auto word = factory.create();
    ASSERT_TRUE(word->documentsOpen(doc, false));
    ASSERT_TRUE(word->editSelectAll());
    ASSERT_TRUE(word->setDocumentVar(kVar, word->selection()));
    EXPECT_TRUE(word->documentsClose(-1)); // "save changes"
    EXPECT_TRUE(word->quit());
    EXPECT_TRUE(snapshot(doc) == before) << "the document, its time or its folder changed";
}

} // namespace
} // namespace lesemund::testing
