#include "platform/iniprofilestore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using lesemund::platform::IniProfileStore;

namespace {

struct Ini : ::testing::Test {
    QTemporaryDir dir;
    IniProfileStore store;
    QString file = dir.path() + "/test.ini";

    void put(const QByteArray &bytes) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray bytes() {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString get(const QString &section, const QString &key, int size = 150) {
        QString v;
        const int n = store.getString(section, key, v, size, file);
        EXPECT_EQ(n, v.size());
        return v;
    }
};

} // namespace

TEST_F(Ini, NamesMatchWithoutRegardToCase) {
    put("[Optionen]\r\nAktivesFenster=1\r\n");
    EXPECT_EQ(get("optionen", "AKTIVESFENSTER"), "1");
    store.writeString("OPTIONEN", "aktivesfenster", "0", file);
    EXPECT_EQ(bytes(), QByteArray("[Optionen]\r\nAktivesFenster=0\r\n"));
}

// Files as editors leave them: the key keeps its spelling, a UTF-8 mark and
// the line ends stay, and the values go back into the section found.
TEST_F(Ini, RewriteKeepsTheFormOfTheFile) {
    struct Row {
        const char *what;
        QByteArray in, out;
        QString stimme = "#v#";
    };
    const Row rows[] = {
        {"key in capitals",
         "[Optionen]\r\nAKTIVESFENSTER=1\r\n stimme = #v#\r\n\r\n[x]\r\nBeiText=7\r\n",
         "[Optionen]\r\nAKTIVESFENSTER=0\r\n stimme = #v#\r\nBeiText=1\r\n\r\n[x]\r\nBeiText=7\r\n"},
        {"UTF-8 mark",
         "\xEF\xBB\xBF[optionen]\r\nAktivesFenster=1\r\nstimme=#v#\xC3\xBC\r\n",
         "\xEF\xBB\xBF[optionen]\r\nAktivesFenster=0\r\nstimme=#v#\xC3\xBC\r\nBeiText=1\r\n",
         QString::fromUtf8("#v#ü")},
        {"UTF-8 mark before 8-bit text",
         "\xEF\xBB\xBF[optionen]\r\nAktivesFenster=1\r\nstimme=#v#\xFC\r\n",
         "\xEF\xBB\xBF[optionen]\r\nAktivesFenster=0\r\nstimme=#v#\xFC\r\nBeiText=1\r\n",
         QString::fromUtf8("#v#ü")},
        {"CR alone",
         "[optionen]\rAktivesFenster=1\rstimme=#v#\r",
         "[optionen]\rAktivesFenster=0\rstimme=#v#\rBeiText=1\r"},
        {"LF, mark, no last line end",
         "\xEF\xBB\xBF[optionen]\nAktivesFenster = 1\nstimme=#v#",
         "\xEF\xBB\xBF[optionen]\nAktivesFenster=0\nstimme=#v#\nBeiText=1\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        put(row.in);
        EXPECT_EQ(get("optionen", "AktivesFenster"), "1");
        EXPECT_EQ(get("optionen", "stimme"), row.stimme);
        EXPECT_TRUE(store.writeString("optionen", "AktivesFenster", "0", file));
        EXPECT_TRUE(store.writeString("optionen", "BeiText", "1", file));
        EXPECT_EQ(bytes(), row.out);
    }
}

TEST_F(Ini, MissingFileSectionOrKeyReadsEmpty) {
    EXPECT_EQ(get("optionen", "x"), "");
    put("[a]\r\nx=1\r\n");
    EXPECT_EQ(get("b", "x"), "");
    EXPECT_EQ(get("a", "y"), "");
}

TEST_F(Ini, WriteReplacesInPlaceOrAppendsAtTheEndOfItsSection) {
    put("[a]\r\nk1=1\r\nk2=2\r\n\r\n[b]\r\nk3=3\r\n");
    store.writeString("a", "k1", "eins", file);
    store.writeString("a", "neu", "x", file);
    store.writeString("b", "k4", "4", file);
    store.writeString("c", "k5", "5", file);
    EXPECT_EQ(bytes(), QByteArray("[a]\r\nk1=eins\r\nk2=2\r\nneu=x\r\n\r\n[b]\r\nk3=3\r\nk4=4\r\n[c]\r\nk5=5\r\n"));
}

TEST_F(Ini, WriteCreatesTheFileWithWindows1252AndCrLf) {
    EXPECT_TRUE(store.writeString("optionen", "URLAdessenfeld", QString::fromUtf8("http://ä.example/ü"), file));
    EXPECT_EQ(bytes(), QByteArray("[optionen]\r\nURLAdessenfeld=http://\xE4.example/\xFC\r\n"));
    EXPECT_EQ(get("optionen", "urladessenfeld"), QString::fromUtf8("http://ä.example/ü"));
}

TEST_F(Ini, ReadGivesAtMostBufferSizeMinusOneCharacters) {
    const QString longValue(200, QChar('x'));
    store.writeString("optionen", "URLAdessenfeld", longValue, file);
    EXPECT_EQ(get("optionen", "URLAdessenfeld").size(), 149);
    EXPECT_EQ(get("optionen", "URLAdessenfeld", 10), QString(9, QChar('x')));
}

TEST_F(Ini, ValuesLoseSurroundingBlanksAndQuotes) {
    put("[o]\r\nzahl=  1  \r\nstimme=\"#voice=x#\"\r\n");
    EXPECT_EQ(get("o", "zahl"), "1");
    EXPECT_EQ(get("o", "stimme"), "#voice=x#");
}

TEST_F(Ini, BinaryOrHugeFilesNeitherCrashNorGetRewritten) {
    QByteArray junk;
    for (int i = 0; i < 70000; ++i)
        junk.append(char((i * 131) & 0xFF));
    put(junk);
    (void)get("optionen", "AktivesFenster");
    QByteArray longLine = "[optionen]\r\nAktivesFenster=" + QByteArray(1024 * 1024, 'x') + "\r\nBeiText=1\r\n";
    put(longLine);
    EXPECT_EQ(get("optionen", "BeiText"), "1");
    EXPECT_EQ(get("optionen", "AktivesFenster").size(), 149);

    put(QByteArray(IniProfileStore::kMaxFileSize + 1, 'a'));
    EXPECT_FALSE(store.writeString("optionen", "x", "1", file));
    EXPECT_EQ(bytes().size(), IniProfileStore::kMaxFileSize + 1);
}

TEST_F(Ini, AFolderOrAMissingFolderIsNotAFile) {
    const QString folder = dir.path() + "/ordner.ini";
    QDir().mkpath(folder);
    QString v;
    EXPECT_EQ(store.getString("a", "b", v, 150, folder), 0);
    EXPECT_FALSE(store.writeString("a", "b", "c", folder));
    EXPECT_FALSE(store.writeString("a", "b", "c", dir.path() + "/fehlt/x.ini"));
}

// A folder that takes no new file, holding an options file that may be
// written: the file is rewritten where it stands. Root may create files
// anywhere, so the write runs in a child process without root's rights.
TEST_F(Ini, AWritableFileInAClosedFolderIsRewrittenInPlace) {
    const QString folder = dir.path() + "/zu";
    ASSERT_TRUE(QDir().mkpath(folder));
    file = folder + "/optionen.ini";
    put("[optionen]\r\nAktivesFenster=1\r\n");
    const auto mode = [](const QString &path, mode_t m) { ASSERT_EQ(chmod(QFile::encodeName(path), m), 0); };
    mode(dir.path(), 0755);
    mode(file, 0666);
    mode(folder, 0555);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        _exit(store.writeString("optionen", "AktivesFenster", "0", file) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    mode(folder, 0755);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "root's rights could not be given up";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(bytes(), QByteArray("[optionen]\r\nAktivesFenster=0\r\n"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"optionen.ini"});
}

TEST_F(Ini, LineEndsInsideAValueCannotSplitTheFile) {
    store.writeString("o", "k", "a\r\n[b]\nc=d", file);
    EXPECT_EQ(get("b", "c"), "");
    EXPECT_EQ(get("o", "k"), "a  [b] c=d");
}
