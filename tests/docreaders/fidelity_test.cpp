// The fast readers against LibreOffice's own text export of the same files
// (tests/fixtures/documents, made by scripts/make-document-fixtures), the
// difference that remains, and the cut of a long document.
#include "docreaderhelpers.h"

#include "platform/documentreader.h"
#include "platform/documentreadertext.h"
#include "platform/documentreaderword.h"
#include "platform/rtfreader.h"

#include <gtest/gtest.h>

namespace lesemund::testing {
namespace {

using platform::DocumentReader;
using Source = DocumentReader::Source;

TEST(FastReaderFidelity, EveryFixtureEqualsLibreOfficesTextExport) {
    const std::pair<const char *, Source> fixtures[] = {
        {"umlaute.doc", Source::Word},        {"umlaute.rtf", Source::Rtf},
        {"absaetze.doc", Source::Word},       {"absaetze.rtf", Source::Rtf},
        {"tabelle.doc", Source::Word},        {"tabelle.rtf", Source::Rtf},
        {"liste.doc", Source::Word},          {"liste.rtf", Source::Rtf},
        {"tabulatoren.doc", Source::Word},    {"tabulatoren.rtf", Source::Rtf},
        {"kopfzeile.doc", Source::Word},      {"kopfzeile.rtf", Source::Rtf},
        {"sonderfaelle.doc", Source::Word},   {"zwanzig-seiten.doc", Source::Word},
        {"zwanzig-seiten.rtf", Source::Rtf},  {"utf8.txt", Source::PlainText},
        {"utf8-bom.txt", Source::PlainText}, {"cp1252.txt", Source::PlainText}};
    const DocumentReader reader = fastReadersOnly();
    for (const auto &[file, reads] : fixtures) {
        Source source = Source::None;
        const auto text = reader.read(fixturePath(QString::fromLatin1(file)), &source);
        ASSERT_TRUE(text.has_value()) << file;
        EXPECT_EQ(source, reads) << file;
        EXPECT_EQ(lines(*text), exportLines(QString::fromLatin1(file))) << file;
    }
}

// sonderfaelle.rtf holds a table inside a table cell. LibreOffice writes it
// to RTF without ending the outer cell and row, and its own import of that
// file then loses everything after the outer table's first row. The RTF
// reader keeps all of the text: the one difference of the fast readers.
TEST(FastReaderFidelityDifference, TableInTableCellOfRtfKeepsTheTextLibreOfficeLoses) {
    const std::string lo = exportLines(QStringLiteral("sonderfaelle.rtf"));
    const std::string common = "außen 2\n";
    const std::size_t at = lo.find(common);
    ASSERT_NE(at, std::string::npos);
    const std::size_t cut = at + common.size();
    EXPECT_EQ(lo.substr(cut), "\n") << "LibreOffice's export changed";
    const auto text = fastReadersOnly().read(fixturePath(QStringLiteral("sonderfaelle.rtf")));
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(lines(*text), lo.substr(0, cut) + "außen 3\naußen 4\ninnen a\ninnen b\ninnen c\n\nNach den Tabellen.\n");
}

TEST(ReaderLimit, LongDocumentIsCutAndTheCutIsSaid) {
    const QString notice = platform::documentTruncationNotice();
    for (const char *name : {"zwanzig-seiten.doc", "zwanzig-seiten.rtf"}) {
        const QByteArray bytes = readFixture(QString::fromLatin1(name));
        const auto text = QByteArray(name).endsWith(".doc") ? platform::readWordDocument(bytes, 1000).text
                                                            : platform::readRtf(bytes, 1000);
        ASSERT_TRUE(text.has_value()) << name;
        EXPECT_TRUE(text->startsWith(QStringLiteral("Kapitel 1") + CR)) << name;
        EXPECT_TRUE(text->endsWith(CR + notice + CR)) << name;
        EXPECT_LE(text->size(), 1000 + notice.size() + 2) << name;
    }
}

} // namespace
} // namespace lesemund::testing
