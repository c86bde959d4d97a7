// The fast readers against LibreOffice's own text export of the same files
// (tests/fixtures/documents, made by scripts/make-document-fixtures).
#include "docreaderhelpers.h"

#include "platform/documentreader.h"
#include "platform/readerwordprocessor.h"

#include <gtest/gtest.h>

namespace lesemund::testing {
namespace {

using platform::DocumentReader;

struct Fixture {
    const char *file;
    DocumentReader::Source reader;
};

class FastReaderFidelity : public ::testing::TestWithParam<Fixture> {};

TEST_P(FastReaderFidelity, EqualsLibreOfficeTextExportParagraphByParagraph) {
    const Fixture f = GetParam();
    DocumentReader reader = fastReadersOnly();
    DocumentReader::Source source = DocumentReader::Source::None;
    const auto text = reader.read(fixturePath(f.file), &source);
    ASSERT_TRUE(text.has_value()) << f.file;
    EXPECT_EQ(source, f.reader) << f.file;
    const QStringList got = paragraphsOfDocumentText(*text);
    const QStringList want = paragraphsOfTextExport(readFixture(QString::fromLatin1(f.file) + ".expected"));
    expectSameParagraphs(got, want, f.file);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, FastReaderFidelity,
    ::testing::Values(Fixture{"umlaute.doc", DocumentReader::Source::Word},
                      Fixture{"umlaute.rtf", DocumentReader::Source::Rtf},
                      Fixture{"absaetze.doc", DocumentReader::Source::Word},
                      Fixture{"absaetze.rtf", DocumentReader::Source::Rtf},
                      Fixture{"tabelle.doc", DocumentReader::Source::Word},
                      Fixture{"tabelle.rtf", DocumentReader::Source::Rtf},
                      Fixture{"liste.doc", DocumentReader::Source::Word},
                      Fixture{"liste.rtf", DocumentReader::Source::Rtf},
                      Fixture{"tabulatoren.doc", DocumentReader::Source::Word},
                      Fixture{"tabulatoren.rtf", DocumentReader::Source::Rtf},
                      Fixture{"kopfzeile.doc", DocumentReader::Source::Word},
                      Fixture{"kopfzeile.rtf", DocumentReader::Source::Rtf},
                      Fixture{"sonderfaelle.doc", DocumentReader::Source::Word},
                      Fixture{"zwanzig-seiten.doc", DocumentReader::Source::Word},
                      Fixture{"zwanzig-seiten.rtf", DocumentReader::Source::Rtf},
                      Fixture{"utf8.txt", DocumentReader::Source::PlainText},
                      Fixture{"utf8-bom.txt", DocumentReader::Source::PlainText},
                      Fixture{"cp1252.txt", DocumentReader::Source::PlainText}),
    [](const ::testing::TestParamInfo<Fixture> &info) {
        std::string name = info.param.file;
        for (char &c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

// sonderfaelle.rtf holds a table inside a table cell. LibreOffice writes it
// to RTF without ending the outer cell and row, and its own import of that
// file then loses everything after the outer table's first row. The RTF
// reader keeps all of the text: the one difference from LibreOffice's text
// export in the fixture set.
TEST(FastReaderFidelityDifference, TableInTableCellOfRtfKeepsTheTextLibreOfficeLoses) {
    const QStringList lo = paragraphsOfTextExport(readFixture(QStringLiteral("sonderfaelle.rtf.expected")));
    const QStringList common = lo.mid(0, 6);
    ASSERT_EQ(common.last(), QStringLiteral("außen 2"));
    EXPECT_EQ(lo.mid(6), QStringList{QString()}) << "LibreOffice's export changed";

    DocumentReader reader = fastReadersOnly();
    const auto text = reader.read(fixturePath(QStringLiteral("sonderfaelle.rtf")));
    ASSERT_TRUE(text.has_value());
    QStringList want = common;
    want << QStringLiteral("außen 3") << QStringLiteral("außen 4") << QStringLiteral("innen a")
         << QStringLiteral("innen b") << QStringLiteral("innen c") << QString()
         << QStringLiteral("Nach den Tabellen.");
    expectSameParagraphs(paragraphsOfDocumentText(*text), want, "sonderfaelle.rtf");
}

// The same text through the word processor's calls, as the window uses it.
TEST(FastReaderFidelityThroughWordProcessor, SelectionOfWholeDocumentIsTheReadersText) {
    auto reader = std::make_shared<DocumentReader>(fastReadersOnly());
    platform::ReaderWordProcessorFactory factory(reader);
    for (const char *name : {"tabelle.doc", "liste.rtf", "cp1252.txt"}) {
        auto word = factory.create();
        ASSERT_TRUE(word);
        ASSERT_TRUE(word->documentsOpen(fixturePath(QString::fromLatin1(name)), true)) << name;
        ASSERT_TRUE(word->editSelectAll());
        const QStringList want =
            paragraphsOfTextExport(readFixture(QString::fromLatin1(name) + QStringLiteral(".expected")));
        expectSameParagraphs(paragraphsOfDocumentText(word->selection()), want, name);
        word->documentsClose(0);
        word->quit();
    }
}

} // namespace
} // namespace lesemund::testing
