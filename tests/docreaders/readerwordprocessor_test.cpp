// The word processor of the program over the document reader: the calls of
// the extraction in their order, failures, variables, and that the fake
// word processor of the window tests behaves the same.
#include "docreaderhelpers.h"

#include "platform/readerwordprocessor.h"
#include "support/fakewordprocessor.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lesemund::testing {
namespace {

using platform::ReaderWordProcessor;
using platform::ReaderWordProcessorFactory;
using platform::WordProcessor;

const QChar CR(13);

std::shared_ptr<platform::DocumentReader> fastReader() {
    return std::make_shared<platform::DocumentReader>(fastReadersOnly());
}

// The calls of the extraction, one after the other; returns what the
// named variable gave back (empty when that call failed).
QString extractionSequence(WordProcessor &word, const QString &path) {
    word.setVisible(false);
    word.documentsOpen(path, true);
    word.editSelectAll();
    word.setDocumentVar(QStringLiteral("MyVar"), word.selection());
    const QString s = word.getDocumentVar(QStringLiteral("MyVar")).value_or(QString());
    word.documentsClose(0);
    word.quit();
    return s;
}

class ReaderWordProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        twoParagraphs = dir.filePath("zwei.txt");
        ASSERT_TRUE(writeBytes(twoParagraphs, "Erster\r\nZweiter"));
    }
    QTemporaryDir dir;
    QString twoParagraphs;
    ReaderWordProcessorFactory factory{fastReader()};
};

TEST_F(ReaderWordProcessorTest, WholeSelectionIsTheTextWithItsFinalParagraphMark) {
    auto word = factory.create();
    ASSERT_TRUE(word);
    EXPECT_TRUE(word->setVisible(false));
    ASSERT_TRUE(word->documentsOpen(twoParagraphs, true));
    EXPECT_EQ(word->selection(), QString()) << "nothing is selected before editSelectAll";
    ASSERT_TRUE(word->editSelectAll());
    EXPECT_EQ(word->selection(), QStringLiteral("Erster") + CR + QStringLiteral("Zweiter") + CR);
}

TEST_F(ReaderWordProcessorTest, VariablesComeBackUnchanged) {
    auto word = factory.create();
    ASSERT_TRUE(word->documentsOpen(twoParagraphs, true));
    const QString value = QStringLiteral("Grüße\r\n\t€ ") + QString(100000, QLatin1Char('x'));
    EXPECT_TRUE(word->setDocumentVar(QStringLiteral("MyVar"), value));
    EXPECT_EQ(word->getDocumentVar(QStringLiteral("MyVar")), value);
    EXPECT_EQ(word->getDocumentVar(QStringLiteral("Anders")), QString()) << "a name never set is empty";
    EXPECT_TRUE(word->setDocumentVar(QStringLiteral("MyVar"), QStringLiteral("neu")));
    EXPECT_EQ(word->getDocumentVar(QStringLiteral("MyVar")), QStringLiteral("neu"));
}

TEST_F(ReaderWordProcessorTest, CallsWithoutAnOpenDocumentFail) {
    auto word = factory.create();
    EXPECT_FALSE(word->documentsOpen(dir.filePath("fehlt.doc"), true));
    EXPECT_FALSE(word->editSelectAll());
    EXPECT_EQ(word->selection(), QString());
    EXPECT_FALSE(word->setDocumentVar(QStringLiteral("MyVar"), QStringLiteral("x")));
    EXPECT_FALSE(word->getDocumentVar(QStringLiteral("MyVar")).has_value());
    EXPECT_FALSE(word->documentsClose(0));
    EXPECT_TRUE(word->quit());
}

TEST_F(ReaderWordProcessorTest, ThereIsNoWindowToShow) {
    auto word = factory.create();
    EXPECT_FALSE(word->setVisible(true));
    EXPECT_TRUE(word->setVisible(false));
}

TEST_F(ReaderWordProcessorTest, CloseDropsDocumentAndVariablesQuitEndsEverything) {
    auto word = factory.create();
    ASSERT_TRUE(word->documentsOpen(twoParagraphs, true));
    word->setDocumentVar(QStringLiteral("MyVar"), QStringLiteral("x"));
    EXPECT_TRUE(word->documentsClose(0));
    EXPECT_FALSE(word->getDocumentVar(QStringLiteral("MyVar")).has_value());
    EXPECT_FALSE(word->editSelectAll());
    ASSERT_TRUE(word->documentsOpen(twoParagraphs, true));
    EXPECT_EQ(word->getDocumentVar(QStringLiteral("MyVar")), QString()) << "variables belong to one opening";
    EXPECT_TRUE(word->quit());
    EXPECT_FALSE(word->quit());
    EXPECT_FALSE(word->documentsOpen(twoParagraphs, true));
    EXPECT_FALSE(word->setVisible(false));
    EXPECT_EQ(word->selection(), QString());
}

TEST_F(ReaderWordProcessorTest, LastOpenedDocumentIsTheActiveOne) {
    const QString other = dir.filePath("anders.txt");
    ASSERT_TRUE(writeBytes(other, "anders"));
    auto word = factory.create();
    ASSERT_TRUE(word->documentsOpen(twoParagraphs, true));
    ASSERT_TRUE(word->documentsOpen(other, true));
    ASSERT_TRUE(word->editSelectAll());
    EXPECT_EQ(word->selection(), QStringLiteral("anders") + CR);
    EXPECT_TRUE(word->documentsClose(0));
    EXPECT_FALSE(word->editSelectAll()) << "close closes every open document";
}

TEST_F(ReaderWordProcessorTest, DocumentIsNeverChangedEvenWhenClosingWithSave) {
    const QString doc = dir.filePath("brief.doc");
    ASSERT_TRUE(QFile::copy(fixturePath("absaetze.doc"), doc));
    const QByteArray before = readBytes(doc);
    const QDateTime modified = QFileInfo(doc).lastModified();
    auto word = factory.create();
    ASSERT_TRUE(word->documentsOpen(doc, false));
    word->editSelectAll();
    word->setDocumentVar(QStringLiteral("MyVar"), word->selection());
    EXPECT_TRUE(word->documentsClose(-1)); // "save changes"
    word->quit();
    EXPECT_EQ(readBytes(doc), before);
    EXPECT_EQ(QFileInfo(doc).lastModified(), modified);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "no lock or backup files";
}

TEST_F(ReaderWordProcessorTest, ExtractionSequenceGivesTheDocumentText) {
    auto word = factory.create();
    EXPECT_EQ(extractionSequence(*word, twoParagraphs),
              QStringLiteral("Erster") + CR + QStringLiteral("Zweiter") + CR);
    auto again = factory.create();
    EXPECT_EQ(extractionSequence(*again, dir.filePath("fehlt.rtf")), QString());
}

TEST_F(ReaderWordProcessorTest, FactoryInstancesShareTheReaderAndItsDownloader) {
    int downloads = 0;
    factory.setDownloader([&](const QString &, const QString &target, qint64) {
        ++downloads;
        return writeBytes(target, "aus dem Netz");
    });
    auto word = factory.create();
    EXPECT_EQ(extractionSequence(*word, QStringLiteral("http://127.0.0.1/notiz.txt")),
              QStringLiteral("aus dem Netz") + CR);
    EXPECT_EQ(downloads, 1);
    EXPECT_TRUE(factory.reader().hasDownloader());
}

// The fake word processor of the window tests must answer the extraction's
// calls the way the real one does, or those tests would test a fiction.
TEST_F(ReaderWordProcessorTest, FakeWordProcessorAgreesWithTheRealOne) {
    const QString oneChar = dir.filePath("leer.txt");
    ASSERT_TRUE(writeBytes(oneChar, ""));
    FakeWordProcessorFactory fake;
    for (const QString &path : {twoParagraphs, oneChar}) {
        auto real = factory.create();
        ReaderWordProcessor probe(fastReader());
        ASSERT_TRUE(probe.documentsOpen(path, true));
        probe.editSelectAll();
        fake.setDocument(path, probe.selection());
        auto double_ = fake.create();
        EXPECT_EQ(extractionSequence(*double_, path), extractionSequence(*real, path)) << path.toStdString();
    }
    auto real = factory.create();
    auto double_ = fake.create();
    EXPECT_EQ(extractionSequence(*double_, dir.filePath("fehlt.doc")),
              extractionSequence(*real, dir.filePath("fehlt.doc")));
    // Call by call, on a fresh pair, including calls out of order.
    auto r = factory.create();
    auto f = fake.create();
    EXPECT_EQ(f->selection(), r->selection());
    EXPECT_EQ(f->editSelectAll(), r->editSelectAll());
    EXPECT_EQ(f->getDocumentVar("MyVar").has_value(), r->getDocumentVar("MyVar").has_value());
    EXPECT_EQ(f->documentsOpen(twoParagraphs, true), r->documentsOpen(twoParagraphs, true));
    EXPECT_EQ(f->selection(), r->selection());
    EXPECT_EQ(f->getDocumentVar("MyVar"), r->getDocumentVar("MyVar"));
    EXPECT_EQ(f->documentsClose(0), r->documentsClose(0));
    EXPECT_EQ(f->documentsClose(0), r->documentsClose(0));
    EXPECT_EQ(f->quit(), r->quit());
    EXPECT_EQ(f->quit(), r->quit());
    EXPECT_EQ(f->documentsOpen(twoParagraphs, true), r->documentsOpen(twoParagraphs, true));
}

TEST(FakeWordProcessor, RecordsCallsAndFailsOnRequest) {
    FakeWordProcessorFactory fake;
    fake.setDocument(QStringLiteral("/app/a.doc"), QStringLiteral("Text") + CR);
    fake.state->failingCalls.insert(QStringLiteral("getDocumentVar"));
    {
        auto word = fake.create();
        EXPECT_EQ(extractionSequence(*word, QStringLiteral("/app/a.doc")), QString());
        EXPECT_EQ(fake.state->alive, 1);
    }
    EXPECT_EQ(fake.state->alive, 0);
    EXPECT_EQ(fake.state->created, 1);
    EXPECT_EQ(fake.state->quits, 1);
    EXPECT_EQ(fake.state->calls,
              (QStringList{QStringLiteral("setVisible(false)"), QStringLiteral("documentsOpen(/app/a.doc, true)"),
                           QStringLiteral("editSelectAll()"), QStringLiteral("selection()"),
                           QStringLiteral("setDocumentVar(MyVar, Text\r)"), QStringLiteral("getDocumentVar(MyVar)"),
                           QStringLiteral("documentsClose(0)"), QStringLiteral("quit()")}));
    fake.available = false;
    EXPECT_EQ(fake.create(), nullptr);
}

} // namespace
} // namespace lesemund::testing
