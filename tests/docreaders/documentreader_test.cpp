// The document reader: which reader reads what, bad input and strange
// names, the outside programs with their time limit, addresses, and the
// rule that a document is never changed.
#include "docreaderhelpers.h"

#include "platform/documentreader.h"
#include "platform/documentreaderprocess.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace lesemund::testing {
namespace {

using platform::DocumentReader;
using Source = platform::DocumentReader::Source;
using namespace std::chrono_literals;

// Reads `path` and checks that neither the document nor its folder changed.
std::optional<QString> readUnchanged(const DocumentReader &reader, const QString &path, Source *source = nullptr) {
    const auto before = snapshot(path);
    const auto text = reader.read(path, source);
    EXPECT_TRUE(snapshot(path) == before) << "changed: " << path.toStdString();
    return text;
}

// An executable script standing in for an outside program.
QString writeScript(const QString &path, const QByteArray &body) {
    EXPECT_TRUE(writeBytes(path, "#!/bin/sh\n" + body));
    ::chmod(QFile::encodeName(path).constData(), 0755);
    return path;
}

bool processGone(qint64 pid) {
    if (pid <= 0)
        return false;
    if (::kill(pid_t(pid), 0) != 0)
        return errno == ESRCH;
    // A zombie waiting for its (new) parent to reap it counts as gone.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

class DocumentReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // Outside programs that only leave a mark: any call of them shows.
        const QByteArray calls = QFile::encodeName(dir.filePath("calls"));
        reader.setCatdocProgram(writeScript(dir.filePath("fake-catdoc"),
                                            "echo catdoc >> '" + calls + "'\necho 'vom Hilfsprogramm'\n"));
        reader.setLibreOfficeProgram(writeScript(dir.filePath("fake-soffice"), "echo soffice >> '" + calls + "'\n"));
        docs = dir.filePath("dokumente");
        QDir().mkpath(docs);
    }
    QString programCalls() const {
        QFile f(dir.filePath("calls"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed().replace('\n', ',') : QString();
    }
    QString copyFixture(const char *fixture, const QString &name) const {
        const QString target = docs + "/" + name;
        EXPECT_TRUE(QFile::copy(fixturePath(QString::fromLatin1(fixture)), target)) << target.toStdString();
        return target;
    }

    QTemporaryDir dir;
    QString docs;
    DocumentReader reader;
};

// By content whatever the extension says, except ".txt"; an empty file is
// an empty document; what the program cannot read goes to catdoc (Word) or
// LibreOffice (all else), an encrypted Word file to nothing.
TEST_F(DocumentReaderTest, EachFileGoesToItsReaderAndStaysUnchanged) {
    const DocumentReader fast = fastReadersOnly();
    const QByteArray doc = readFixture(QStringLiteral("tabelle.doc"));
    const qsizetype fib = wordStreamOffset(doc);
    QByteArray word95 = doc, foreign = doc, locked = doc, junk;
    word95[fib + 2] = char(0x68); // the version of Word 95
    word95[fib + 3] = 0;
    foreign[fib] = 'X'; // no Word text stream
    locked[fib + 0x0B] = char(quint8(locked[fib + 0x0B]) | 0x01);
    for (int i = 0; i < 5000; ++i)
        junk.append(char((i * 7919) % 251));
    const QByteArray longDoc = readFixture(QStringLiteral("zwanzig-seiten.doc"));
    const std::optional<QString> helper = QStringLiteral("vom Hilfsprogramm") + CR, none;
    const struct {
        const char *name;
        QByteArray bytes;
        Source source;
        const char *calls;
        std::optional<QString> want;
    } cases[] = {
        {"rtf-mit-falschem-namen.doc", readFixture(QStringLiteral("tabelle.rtf")), Source::Rtf, "",
         fast.read(fixturePath(QStringLiteral("tabelle.rtf")))},
        {"doc-mit-falschem-namen.rtf", doc, Source::Word, "", fast.read(fixturePath(QStringLiteral("tabelle.doc")))},
        {"GROSS.TXT", "{\\rtf1 roh}\r\nzwei", Source::PlainText, "", paragraphs({"{\\rtf1 roh}", "zwei"})},
        {"leer.doc", "", Source::PlainText, "", QString(CR)},
        {"leer.rtf", "", Source::PlainText, "", QString(CR)},
        {"leer.txt", "", Source::PlainText, "", QString(CR)},
        {"leer.docx", "", Source::PlainText, "", QString(CR)},
        {"alt.doc", word95, Source::Catdoc, "catdoc", helper},
        {"fremd.doc", foreign, Source::Catdoc, "catdoc", helper},
        {"kaputt.doc", longDoc.left(longDoc.size() / 3), Source::Catdoc, "catdoc", helper},
        {"geheim.doc", locked, Source::None, "", none},
        {"müll.rtf", junk, Source::None, "soffice", none},
        {"brief.docx", readFixture(QStringLiteral("umlaute.docx")), Source::None, "soffice", none},
    };
    for (const auto &c : cases) {
        const QString path = docs + "/" + QString::fromUtf8(c.name);
        ASSERT_TRUE(writeBytes(path, c.bytes));
        QFile::remove(dir.filePath("calls"));
        Source source = Source::None;
        EXPECT_EQ(readUnchanged(reader, path, &source), c.want) << c.name;
        if (c.source != Source::None) {
            ASSERT_TRUE(c.want.has_value()) << c.name;
            EXPECT_EQ(source, c.source) << c.name;
        }
        EXPECT_EQ(programCalls(), QString::fromLatin1(c.calls)) << c.name;
    }
}

TEST_F(DocumentReaderTest, MissingFolderDeviceLinkLoopPipeAndMissingProgramGiveNothingAtOnce) {
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(reader.read(docs + "/fehlt.doc").has_value());
    ASSERT_TRUE(QDir().mkpath(docs + "/x.txt"));
    EXPECT_FALSE(reader.read(docs + "/x.txt").has_value());
    ASSERT_TRUE(QFile::link(docs + "/schleife-b.doc", docs + "/schleife-a.doc"));
    ASSERT_TRUE(QFile::link(docs + "/schleife-a.doc", docs + "/schleife-b.doc"));
    EXPECT_FALSE(reader.read(docs + "/schleife-a.doc").has_value());
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), docs + "/null.txt"));
    EXPECT_FALSE(reader.read(docs + "/null.txt").has_value());
    ASSERT_EQ(::mkfifo(QFile::encodeName(docs + "/rohr.txt").constData(), 0600), 0);
    EXPECT_FALSE(reader.read(docs + "/rohr.txt").has_value());
    EXPECT_FALSE(reader.read(QString()).has_value());
    EXPECT_EQ(programCalls(), QString());
    // Without LibreOffice its fallback yields nothing.
    reader.setLibreOfficeProgram(dir.filePath("kein-soffice"));
    EXPECT_FALSE(readUnchanged(reader, copyFixture("umlaute.docx", QStringLiteral("brief.docx"))).has_value());
    EXPECT_LT(timer.elapsed(), 1000);
}

// Through every reader, catdoc and LibreOffice included (when installed):
// no name is taken for an option or changes what is read.
TEST_F(DocumentReaderTest, NamesWithUmlautsBlanksQuotesAndLeadingDash) {
    const bool haveCatdoc = !platform::findProgram(QStringLiteral("catdoc")).isEmpty();
    const bool haveSoffice = !platform::findProgram(QStringLiteral("soffice")).isEmpty();
    reader.setCatdocProgram(QStringLiteral("catdoc"));
    reader.setLibreOfficeProgram(QStringLiteral("soffice"));
    const struct {
        const char *name, *fixture;
        bool viaCatdoc;
    } cases[] = {{"-Grüße an \"alle\" & 'Sie' $(x).doc", "umlaute.doc", false},
                 {"--help.rtf", "umlaute.rtf", false},
                 {"-w Straße;ß.txt", "utf8.txt", false},
                 {"-w -d ascii \"ä\".doc", "umlaute.doc", true},
                 {"-Brief an \"Müller\" 'ß'.docx", "umlaute.docx", false}};
    for (const auto &c : cases) {
        const bool viaSoffice = QByteArray(c.fixture).endsWith(".docx");
        if ((c.viaCatdoc && !haveCatdoc) || (viaSoffice && !haveSoffice))
            continue;
        const QString path = copyFixture(c.fixture, QString::fromUtf8(c.name));
        const auto before = snapshot(path);
        Source source = Source::None;
        const auto text = c.viaCatdoc ? reader.readWithCatdoc(path) : reader.read(path, &source);
        EXPECT_TRUE(snapshot(path) == before) << c.name;
        ASSERT_TRUE(text.has_value()) << c.name;
        EXPECT_EQ(lines(*text), exportLines(QString::fromLatin1(c.fixture))) << c.name;
        if (viaSoffice) {
            EXPECT_EQ(source, Source::LibreOffice);
        }
    }
    // Relative to the current folder, with a leading dash.
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(docs));
    EXPECT_TRUE(reader.read(QString::fromUtf8(cases[0].name)).has_value());
    QDir::setCurrent(old);
}

// --- outside programs --------------------------------------------------------

TEST_F(DocumentReaderTest, ProgramOverTheTimeLimitIsKilledWithWhatItStarted) {
    const QByteArray pids = QFile::encodeName(dir.filePath("pids"));
    reader.setLibreOfficeProgram(writeScript(dir.filePath("slow-soffice"), "echo $$ > '" + pids +
                                                 "'\nsleep 60 &\necho $! >> '" + pids + "'\nwait\n"));
    reader.setTimeLimit(800ms);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(readUnchanged(reader, copyFixture("umlaute.docx", QStringLiteral("brief.docx"))).has_value());
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_GE(timer.elapsed(), 700);
    const QStringList started = QString::fromLatin1(readBytes(dir.filePath("pids"))).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(started.size(), 2);
    for (const QString &pid : started) {
        for (int i = 0; i < 100 && !processGone(pid.toLongLong()); ++i)
            ::usleep(10000);
        EXPECT_TRUE(processGone(pid.toLongLong())) << "still running: " << pid.toStdString();
    }
}

TEST_F(DocumentReaderTest, EndlessOutputIsCutAtTheLimit) {
    reader.setCatdocProgram(writeScript(dir.filePath("endless-catdoc"), "exec yes 'immer weiter'\n"));
    reader.setTextLimit(1000);
    QElapsedTimer timer;
    timer.start();
    const auto text = reader.readWithCatdoc(fixturePath(QStringLiteral("umlaute.doc")));
    EXPECT_LT(timer.elapsed(), 3000);
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(text->startsWith(QStringLiteral("immer weiter") + CR));
    EXPECT_TRUE(text->endsWith(CR + platform::documentTruncationNotice() + CR));
    EXPECT_LE(text->size(), 1000 + platform::documentTruncationNotice().size() + 2);
}

TEST(RunProgram, ArgumentVectorEnvironmentAndExitCode) {
    QTemporaryDir dir;
    const auto printf = platform::runProgram(QStringLiteral("printf"), {"[%s]", "a b", "$(x) ;'\""}, dir.path(),
                                             {}, 5000ms, 1000);
    EXPECT_EQ(printf.exitCode, 0);
    EXPECT_EQ(printf.output, QByteArray("[a b][$(x) ;'\"]"));
    EXPECT_EQ(platform::runProgram(QStringLiteral("env"), {}, dir.path(), {"EINS=1"}, 5000ms, 1000).output, "EINS=1\n");
    EXPECT_EQ(platform::runProgram(QStringLiteral("false"), {}, dir.path(), {}, 5000ms, 1000).exitCode, 1);
}

// --- addresses ---------------------------------------------------------------

TEST_F(DocumentReaderTest, FileAddressesAreReadLikePaths) {
    const QString path = copyFixture("umlaute.rtf", QStringLiteral("Grüße mit Blank.rtf"));
    const auto byPath = reader.read(path);
    ASSERT_TRUE(byPath.has_value());
    EXPECT_EQ(reader.read(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)), byPath);
    EXPECT_EQ(reader.read(QStringLiteral("file://") + path), byPath);
}

TEST_F(DocumentReaderTest, WebAddressesAreDownloadedThenReadByTheNameInTheAddress) {
    EXPECT_FALSE(reader.read(QStringLiteral("http://127.0.0.1:9/brief.doc")).has_value()) << "no downloader";
    QList<qint64> limits;
    reader.setDownloader([&](const QString &address, const QString &target, qint64 maxBytes) {
        limits << maxBytes;
        EXPECT_FALSE(QFileInfo::exists(target));
        return QFile::copy(fixturePath(address.endsWith(".txt") ? "cp1252.txt" : "liste.doc"), target);
    });
    Source source;
    EXPECT_EQ(reader.read(QStringLiteral("https://example.org/ordner/liste.doc?x=1"), &source),
              fastReadersOnly().read(fixturePath(QStringLiteral("liste.doc"))));
    EXPECT_EQ(source, Source::Word);
    ASSERT_TRUE(reader.read(QStringLiteral("HTTP://example.org/../-text.txt"), &source).has_value());
    EXPECT_EQ(source, Source::PlainText);
    EXPECT_EQ(limits, (QList<qint64>{DocumentReader::kMaxDownloadBytes, DocumentReader::kMaxDownloadBytes}));
    reader.setDownloader([](const QString &, const QString &, qint64) { return false; });
    EXPECT_FALSE(reader.read(QStringLiteral("http://example.org/brief.doc")).has_value());
}

} // namespace
} // namespace lesemund::testing
