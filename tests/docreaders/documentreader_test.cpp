// The document reader: which reader reads what, strange files and names,
// the outside programs with their time limit, addresses, and the rule that
// a document is never changed.
#include "docreaderhelpers.h"

#include "support/fakehttpclient.h"
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

const QChar CR(13);

// The bytes and time stamp of a document and the names in its folder.
struct Snapshot {
    QByteArray bytes;
    QDateTime modified;
    QStringList folder;

    static Snapshot of(const QString &path) {
        Snapshot s;
        const QFileInfo info(path);
        if (info.isFile()) {
            QFile f(path);
            if (f.open(QIODevice::ReadOnly))
                s.bytes = f.readAll();
        }
        s.modified = info.lastModified();
        s.folder = QDir(info.absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                           QDir::NoDotAndDotDot, QDir::Name);
        return s;
    }
    bool operator==(const Snapshot &o) const {
        return bytes == o.bytes && modified == o.modified && folder == o.folder;
    }
};

// Reads `path` and checks that neither the document nor its folder changed.
std::optional<QString> readUnchanged(const DocumentReader &reader, const QString &path, Source *source = nullptr) {
    const Snapshot before = Snapshot::of(path);
    const auto text = reader.read(path, source);
    EXPECT_TRUE(Snapshot::of(path) == before) << "changed: " << path.toStdString();
    return text;
}

QString copyFixture(const QString &fixture, const QString &target) {
    EXPECT_TRUE(QFile::copy(fixturePath(fixture), target)) << target.toStdString();
    return target;
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
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.mid(close + 2, 1) == "Z";
}

class DocumentReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // Outside programs that only leave a mark: any call of them shows.
        fakeCatdoc = writeScript(dir.filePath("fake-catdoc"),
                                 "echo catdoc >> '" + QFile::encodeName(dir.filePath("calls")) +
                                     "'\necho 'vom Hilfsprogramm'\n");
        fakeSoffice = writeScript(dir.filePath("fake-soffice"),
                                  "echo soffice >> '" + QFile::encodeName(dir.filePath("calls")) + "'\n");
        reader.setCatdocProgram(fakeCatdoc);
        reader.setLibreOfficeProgram(fakeSoffice);
        docs = dir.filePath("dokumente");
        QDir().mkpath(docs);
    }
    QStringList programCalls() const {
        QFile f(dir.filePath("calls"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    static bool haveLibreOffice() { return !platform::findProgram(QStringLiteral("soffice")).isEmpty(); }
    static bool haveCatdoc() { return !platform::findProgram(QStringLiteral("catdoc")).isEmpty(); }

    QTemporaryDir dir;
    QString docs;
    QString fakeCatdoc, fakeSoffice;
    DocumentReader reader;
};

// --- dispatch --------------------------------------------------------------

TEST_F(DocumentReaderTest, ReadsByContentWhateverTheExtensionSays) {
    Source source;
    const QString rtfAsDoc = copyFixture("tabelle.rtf", docs + "/rtf-mit-falschem-namen.doc");
    ASSERT_TRUE(readUnchanged(reader, rtfAsDoc, &source).has_value());
    EXPECT_EQ(source, Source::Rtf);
    const QString docAsRtf = copyFixture("tabelle.doc", docs + "/doc-mit-falschem-namen.rtf");
    ASSERT_TRUE(readUnchanged(reader, docAsRtf, &source).has_value());
    EXPECT_EQ(source, Source::Word);
    EXPECT_TRUE(programCalls().isEmpty());
}

TEST_F(DocumentReaderTest, TxtIsAlwaysPlainTextInAnyCase) {
    Source source;
    const QString upper = docs + "/GROSS.TXT";
    ASSERT_TRUE(writeBytes(upper, "{\\rtf1 roh}\r\nzwei"));
    EXPECT_EQ(readUnchanged(reader, upper, &source), QStringLiteral("{\\rtf1 roh}") + CR + "zwei" + CR);
    EXPECT_EQ(source, Source::PlainText);
}

TEST_F(DocumentReaderTest, EmptyFileIsAnEmptyDocumentWithoutAnyOutsideProgram) {
    for (const char *name : {"leer.doc", "leer.rtf", "leer.txt", "leer.docx"}) {
        const QString path = docs + "/" + name;
        ASSERT_TRUE(writeBytes(path, QByteArray()));
        Source source;
        EXPECT_EQ(readUnchanged(reader, path, &source), QString(CR)) << name;
        EXPECT_EQ(source, Source::PlainText);
    }
    EXPECT_TRUE(programCalls().isEmpty());
}

TEST_F(DocumentReaderTest, DocTheProgramCannotReadGoesToCatdoc) {
    QByteArray old = readFixture("tabelle.doc");
    const qsizetype fib = Layout{old}.wordStreamOffset();
    ASSERT_EQ(quint8(old[fib]), 0xEC);
    old[fib + 2] = char(0x68); // the version number of Word 95
    old[fib + 3] = 0;
    const QString path = docs + "/alt.doc";
    ASSERT_TRUE(writeBytes(path, old));
    Source source;
    EXPECT_EQ(readUnchanged(reader, path, &source), QStringLiteral("vom Hilfsprogramm") + CR);
    EXPECT_EQ(source, Source::Catdoc);
    EXPECT_EQ(programCalls(), QStringList{QStringLiteral("catdoc")});
}

TEST_F(DocumentReaderTest, EncryptedDocIsNotHandedToAnyProgram) {
    QByteArray locked = readFixture("tabelle.doc");
    const qsizetype fib = Layout{locked}.wordStreamOffset();
    ASSERT_EQ(quint8(locked[fib]), 0xEC);
    locked[fib + 0x0B] = char(quint8(locked[fib + 0x0B]) | 0x01);
    const QString path = docs + "/geheim.doc";
    ASSERT_TRUE(writeBytes(path, locked));
    EXPECT_FALSE(readUnchanged(reader, path).has_value());
    EXPECT_TRUE(programCalls().isEmpty());
}

TEST_F(DocumentReaderTest, OtherFormatsAndJunkGoToLibreOffice) {
    const QString junk = docs + "/müll.rtf";
    QByteArray bytes;
    for (int i = 0; i < 5000; ++i)
        bytes.append(char((i * 7919) % 251));
    ASSERT_TRUE(writeBytes(junk, bytes));
    const QString docx = copyFixture("umlaute.docx", docs + "/brief.docx");
    readUnchanged(reader, junk);
    readUnchanged(reader, docx);
    EXPECT_EQ(programCalls(), (QStringList{QStringLiteral("soffice"), QStringLiteral("soffice")}));
}

TEST_F(DocumentReaderTest, WithoutLibreOfficeTheFallbackYieldsNothing) {
    const QString docx = copyFixture("umlaute.docx", docs + "/brief.docx");
    reader.setLibreOfficeProgram(dir.filePath("kein-soffice"));
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(readUnchanged(reader, docx).has_value());
    EXPECT_LT(timer.elapsed(), 1000);
}

// --- strange files and names ---------------------------------------------

TEST_F(DocumentReaderTest, MissingFolderDeviceLinkLoopAndPipeGiveNothingAtOnce) {
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
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(programCalls().isEmpty());
}

TEST_F(DocumentReaderTest, TruncatedDocumentsNeverHangAndStayUnchanged) {
    if (haveCatdoc())
        reader.setCatdocProgram(QStringLiteral("catdoc"));
    QElapsedTimer timer;
    timer.start();
    for (const char *name : {"zwanzig-seiten.doc", "zwanzig-seiten.rtf"}) {
        const QByteArray whole = readFixture(QString::fromLatin1(name));
        for (qsizetype cut : {qsizetype(7), qsizetype(600), whole.size() / 3, whole.size() - 100}) {
            const QString path = docs + "/kaputt-" + QString::number(cut) + "-" + QString::fromLatin1(name);
            ASSERT_TRUE(writeBytes(path, whole.left(cut)));
            const auto text = readUnchanged(reader, path);
            if (text) {
                EXPECT_TRUE(text->endsWith(CR));
            }
        }
    }
    // The RTF reader gives the text up to the cut; a cut Word file goes on
    // to catdoc and LibreOffice (here the stand-in, which yields nothing).
    const QString cutRtf = docs + "/kaputt-" + QString::number(readFixture("zwanzig-seiten.rtf").size() - 100) +
                           "-zwanzig-seiten.rtf";
    EXPECT_TRUE(reader.read(cutRtf).value_or(QString()).startsWith(QStringLiteral("Kapitel 1") + CR));
    EXPECT_LT(timer.elapsed(), 10000);
}

TEST_F(DocumentReaderTest, FileRemovedBeforeReadingGivesNothing) {
    const QString path = copyFixture("umlaute.doc", docs + "/weg.doc");
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_FALSE(reader.read(path).has_value());
}

TEST_F(DocumentReaderTest, NamesWithUmlautsBlanksQuotesAndLeadingDash) {
    const QStringList names{QStringLiteral("-Grüße an \"alle\" & 'Sie' $(x).doc"),
                            QStringLiteral("--help.rtf"), QStringLiteral("-w Straße;ß.txt")};
    const QStringList fixtures{QStringLiteral("umlaute.doc"), QStringLiteral("umlaute.rtf"),
                               QStringLiteral("utf8.txt")};
    for (int i = 0; i < names.size(); ++i) {
        const QString path = copyFixture(fixtures[i], docs + "/" + names[i]);
        const auto text = readUnchanged(reader, path);
        ASSERT_TRUE(text.has_value()) << names[i].toStdString();
        expectSameParagraphs(paragraphsOfDocumentText(*text),
                             paragraphsOfTextExport(readFixture(fixtures[i] + ".expected")),
                             names[i].toUtf8().constData());
    }
    // Relative to the current folder, with a leading dash.
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(docs));
    EXPECT_TRUE(reader.read(names[0]).has_value());
    QDir::setCurrent(old);
}

TEST_F(DocumentReaderTest, CatdocGetsNoOptionFromTheName) {
    if (!haveCatdoc())
        GTEST_SKIP() << "catdoc is not installed";
    reader.setCatdocProgram(QStringLiteral("catdoc"));
    const QString path = copyFixture("umlaute.doc", docs + "/-w -d ascii \"ä\".doc");
    const Snapshot before = Snapshot::of(path);
    const auto text = reader.readWithCatdoc(path);
    EXPECT_TRUE(Snapshot::of(path) == before);
    ASSERT_TRUE(text.has_value());
    expectSameParagraphs(paragraphsOfDocumentText(*text),
                         paragraphsOfTextExport(readFixture("umlaute.doc.expected")), "catdoc");
}

// What catdoc, the reader for Word files the program cannot read, gives on
// the fixtures: the same text where there are no empty paragraphs, list
// labels, headers, footnotes or fields.
TEST_F(DocumentReaderTest, CatdocFidelityAndItsKnownDifferences) {
    if (!haveCatdoc())
        GTEST_SKIP() << "catdoc is not installed";
    reader.setCatdocProgram(QStringLiteral("catdoc"));
    for (const char *name : {"umlaute.doc", "tabulatoren.doc", "zwanzig-seiten.doc"}) {
        const auto text = reader.readWithCatdoc(fixturePath(name));
        ASSERT_TRUE(text.has_value()) << name;
        expectSameParagraphs(paragraphsOfDocumentText(*text),
                             paragraphsOfTextExport(readFixture(QString::fromLatin1(name) + ".expected")), name);
    }
    // Differences: catdoc drops empty paragraphs (also empty table cells),
    // gives no list labels, and puts headers and footers (with their field
    // instructions) after the text.
    QStringList absaetze = paragraphsOfTextExport(readFixture("absaetze.doc.expected"));
    absaetze.removeAll(QString());
    expectSameParagraphs(paragraphsOfDocumentText(reader.readWithCatdoc(fixturePath("absaetze.doc")).value_or("")),
                         absaetze, "catdoc absaetze.doc");
    const QString kopf = reader.readWithCatdoc(fixturePath("kopfzeile.doc")).value_or(QString());
    EXPECT_TRUE(kopf.contains(QStringLiteral("Kopfzeile: Tastvolk Lesemund") + CR));
    EXPECT_TRUE(kopf.contains(QStringLiteral("PAGE")));
    const QString liste = reader.readWithCatdoc(fixturePath("liste.doc")).value_or(QString());
    EXPECT_TRUE(liste.contains(CR + QStringLiteral("Äpfel") + CR)) << liste.toStdString();
}

TEST_F(DocumentReaderTest, LibreOfficeReadsOtherFormatsUnderAnyName) {
    if (!haveLibreOffice())
        GTEST_SKIP() << "LibreOffice is not installed";
    reader.setLibreOfficeProgram(QStringLiteral("soffice"));
    const QString path = copyFixture("umlaute.docx", docs + "/-Brief an \"Müller\" 'ß'.docx");
    Source source;
    const auto text = readUnchanged(reader, path, &source);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(source, Source::LibreOffice);
    expectSameParagraphs(paragraphsOfDocumentText(*text),
                         paragraphsOfTextExport(readFixture("umlaute.docx.expected")), "LibreOffice");
}

TEST_F(DocumentReaderTest, LibreOfficeOnJunkEndsWithinTheTimeLimit) {
    if (!haveLibreOffice())
        GTEST_SKIP() << "LibreOffice is not installed";
    reader.setLibreOfficeProgram(QStringLiteral("soffice"));
    QByteArray bytes;
    for (int i = 0; i < 20000; ++i)
        bytes.append(char((i * 104729) % 256));
    const QString junk = docs + "/müll.rtf";
    ASSERT_TRUE(writeBytes(junk, bytes));
    QElapsedTimer timer;
    timer.start();
    readUnchanged(reader, junk); // whatever LibreOffice makes of it
    EXPECT_LT(timer.elapsed(), 12000);
}

// --- outside programs --------------------------------------------------------

TEST_F(DocumentReaderTest, ProgramOverTheTimeLimitIsKilledWithWhatItStarted) {
    const QString pids = dir.filePath("pids");
    const QString slow = writeScript(dir.filePath("slow-soffice"),
                                     "echo $$ > '" + QFile::encodeName(pids) + "'\nsleep 60 &\necho $! >> '" +
                                         QFile::encodeName(pids) + "'\nwait\n");
    reader.setLibreOfficeProgram(slow);
    reader.setTimeLimit(800ms);
    const QString docx = copyFixture("umlaute.docx", docs + "/brief.docx");
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(readUnchanged(reader, docx).has_value());
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_GE(timer.elapsed(), 700);
    const QStringList started = QString::fromLatin1(readBytes(pids)).split('\n', Qt::SkipEmptyParts);
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
    const auto text = reader.readWithCatdoc(fixturePath("umlaute.doc"));
    EXPECT_LT(timer.elapsed(), 3000);
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(text->startsWith(QStringLiteral("immer weiter") + CR));
    EXPECT_TRUE(text->endsWith(CR + platform::documentTruncationNotice() + CR));
    EXPECT_LE(text->size(), 1000 + platform::documentTruncationNotice().size() + 2);
}

TEST(RunProgram, ArgumentVectorEnvironmentFolderAndExitCode) {
    QTemporaryDir dir;
    const auto printf = platform::runProgram(QStringLiteral("printf"),
                                             {QStringLiteral("[%s]"), QStringLiteral("a b"), QStringLiteral("$(x) ;'\"")},
                                             dir.path(), {}, 5000ms, 1000);
    EXPECT_TRUE(printf.finished);
    EXPECT_EQ(printf.exitCode, 0);
    EXPECT_EQ(printf.output, QByteArray("[a b][$(x) ;'\"]"));

    const auto env = platform::runProgram(QStringLiteral("env"), {}, dir.path(),
                                          {QStringLiteral("EINS=1"), QStringLiteral("ZWEI=zwei")}, 5000ms, 1000);
    EXPECT_EQ(env.output, QByteArray("EINS=1\nZWEI=zwei\n"));

    const auto pwd = platform::runProgram(QStringLiteral("pwd"), {}, dir.path(), {}, 5000ms, 1000);
    EXPECT_EQ(pwd.output.trimmed(), QFile::encodeName(QDir(dir.path()).canonicalPath()));

    const auto cat = platform::runProgram(QStringLiteral("cat"), {}, dir.path(), {}, 5000ms, 1000);
    EXPECT_TRUE(cat.finished); // its input is empty: it ends at once
    EXPECT_TRUE(cat.output.isEmpty());

    const auto fails = platform::runProgram(QStringLiteral("false"), {}, dir.path(), {}, 5000ms, 1000);
    EXPECT_TRUE(fails.finished);
    EXPECT_EQ(fails.exitCode, 1);

    const auto missing = platform::runProgram(dir.path() + "/gibt-es-nicht", {}, dir.path(), {}, 5000ms, 1000);
    EXPECT_FALSE(missing.started);
}

TEST(RunProgram, TimeLimitKillsAndSays) {
    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    const auto run = platform::runProgram(QStringLiteral("sleep"), {QStringLiteral("30")}, dir.path(), {}, 300ms, 1000);
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.timedOut);
    EXPECT_FALSE(run.finished);
    EXPECT_LT(timer.elapsed(), 2000);
}

// --- addresses ---------------------------------------------------------------

TEST_F(DocumentReaderTest, FileAddressesAreReadLikePaths) {
    const QString path = copyFixture("umlaute.rtf", docs + "/Grüße mit Blank.rtf");
    const auto byPath = reader.read(path);
    const auto byAddress = reader.read(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    const auto byPlainAddress = reader.read(QStringLiteral("file://") + path);
    ASSERT_TRUE(byPath.has_value());
    EXPECT_EQ(byAddress, byPath);
    EXPECT_EQ(byPlainAddress, byPath);
}

TEST_F(DocumentReaderTest, WebAddressesReadAsNothingWithoutDownloader) {
    EXPECT_FALSE(reader.hasDownloader());
    EXPECT_FALSE(reader.read(QStringLiteral("http://127.0.0.1:9/brief.doc")).has_value());
    EXPECT_FALSE(reader.read(QStringLiteral("HTTPS://127.0.0.1:9/brief.txt")).has_value());
}

TEST_F(DocumentReaderTest, WebAddressesAreDownloadedThenReadByTheNameInTheAddress) {
    QStringList asked;
    qint64 limit = 0;
    reader.setDownloader([&](const QString &address, const QString &target, qint64 maxBytes) {
        asked << address;
        limit = maxBytes;
        EXPECT_FALSE(QFileInfo::exists(target));
        const QString fixture = address.endsWith(QStringLiteral(".txt")) ? QStringLiteral("cp1252.txt")
                                                                          : QStringLiteral("liste.doc");
        return QFile::copy(fixturePath(fixture), target);
    });
    Source source;
    const auto doc = reader.read(QStringLiteral("https://example.org/ordner/liste.doc?x=1"), &source);
    ASSERT_TRUE(doc.has_value());
    EXPECT_EQ(source, Source::Word);
    expectSameParagraphs(paragraphsOfDocumentText(*doc), paragraphsOfTextExport(readFixture("liste.doc.expected")),
                         "download");
    const auto txt = reader.read(QStringLiteral("http://example.org/../-text.txt"), &source);
    ASSERT_TRUE(txt.has_value());
    EXPECT_EQ(source, Source::PlainText);
    EXPECT_EQ(limit, DocumentReader::kMaxDownloadBytes);
    EXPECT_EQ(asked.size(), 2);

    reader.setDownloader([](const QString &, const QString &, qint64) { return false; });
    EXPECT_FALSE(reader.read(QStringLiteral("http://example.org/brief.doc")).has_value());
}

TEST_F(DocumentReaderTest, HttpDownloaderWritesTheBodyOfTheHttpClient) {
    auto http = std::make_shared<FakeHttpClient>();
    http->setResponse(QStringLiteral("http://127.0.0.1/brief.rtf"), readFixture("tabelle.rtf"), "application/rtf");
    http->setFailure(QStringLiteral("http://127.0.0.1/fehlt.rtf"));
    reader.setDownloader(platform::httpDownloader(http));
    const auto text = reader.read(QStringLiteral("http://127.0.0.1/brief.rtf"));
    ASSERT_TRUE(text.has_value());
    expectSameParagraphs(paragraphsOfDocumentText(*text), paragraphsOfTextExport(readFixture("tabelle.rtf.expected")),
                         "http");
    EXPECT_FALSE(reader.read(QStringLiteral("http://127.0.0.1/fehlt.rtf")).has_value());
    ASSERT_EQ(http->requests().size(), 2);
    EXPECT_EQ(http->requests().at(0).maxBytes, platform::HttpClient::kDocumentLimit);
}

} // namespace
} // namespace lesemund::testing
