// The options file store: a rewrite keeps the form of the file byte for
// byte, bad files are refused, and what a broken write left is removed.
#include "platform/iniprofilestore.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lesemund::platform;

namespace {

struct Ini : ::testing::Test {
    QTemporaryDir dir;
    IniProfileStore store;
    QString file = dir.path() + "/test.ini";
    void put(const QByteArray &b) { QFile f(file); ASSERT_TRUE(f.open(QFile::WriteOnly) && f.write(b) == b.size()); }
    QByteArray bytes() { QFile f(file); return f.open(QFile::ReadOnly) ? f.readAll() : QByteArray(); }
    QString get(const QString &section, const QString &key, int size = 150) {
        QString v;
        const int n = store.getString(section, key, v, size, file);
        EXPECT_EQ(n, v.size());
        return v;
    }
};

} // namespace

// Files as editors leave them: names in any case, the key keeps its
// spelling, a UTF-8 mark and the line ends stay, and the values go back
// into the section found.
TEST_F(Ini, RewriteKeepsTheFormOfTheFile) {
    const QString u = QString::fromUtf8("#v#ü");
    const std::tuple<QByteArray, QByteArray, QString> rows[] = {
        {"[Optionen]\r\nAKTIVESFENSTER=1\r\n stimme = #v#\r\n\r\n[x]\r\nBeiText=7\r\n",
         "[Optionen]\r\nAKTIVESFENSTER=0\r\n stimme = #v#\r\nBeiText=1\r\n\r\n[x]\r\nBeiText=7\r\n", "#v#"},
        {"\xEF\xBB\xBF[optionen]\r\nAktivesFenster=1\r\nstimme=#v#\xC3\xBC\r\n",
         "\xEF\xBB\xBF[optionen]\r\nAktivesFenster=0\r\nstimme=#v#\xC3\xBC\r\nBeiText=1\r\n", u},
        {"\xEF\xBB\xBF[optionen]\r\nAktivesFenster=1\r\nstimme=#v#\xFC\r\n",
         "\xEF\xBB\xBF[optionen]\r\nAktivesFenster=0\r\nstimme=#v#\xFC\r\nBeiText=1\r\n", u},
        {"[optionen]\rAktivesFenster=1\rstimme=#v#\r", "[optionen]\rAktivesFenster=0\rstimme=#v#\rBeiText=1\r", "#v#"},
        {"\xEF\xBB\xBF[optionen]\nAktivesFenster = 1\nstimme=#v#",
         "\xEF\xBB\xBF[optionen]\nAktivesFenster=0\nstimme=#v#\nBeiText=1\n", "#v#"},
    };
    for (const auto &[in, out, stimme] : rows) {
        SCOPED_TRACE(in.toStdString());
        put(in);
        EXPECT_EQ(get("OPTIONEN", "aktivesfenster"), "1");
        EXPECT_EQ(get("optionen", "stimme"), stimme);
        EXPECT_TRUE(store.writeString("optionen", "AktivesFenster", "0", file));
        EXPECT_TRUE(store.writeString("optionen", "BeiText", "1", file));
        EXPECT_EQ(bytes(), out);
    }
}

// A new file is Windows-1252 with CR LF; a value is replaced in place or
// appended at the end of its section; line ends cannot split the file.
TEST_F(Ini, ReadAndWrite) {
    EXPECT_TRUE(store.writeString("a", "url", QString::fromUtf8("http://ä.example/ü"), file));
    EXPECT_EQ(bytes(), "[a]\r\nurl=http://\xE4.example/\xFC\r\n");
    put("[a]\r\nk1=1\r\nk2=  \"x=y\"  \r\n=leer\r\n\r\n[b]\r\nk3=3\r\n");
    EXPECT_EQ(get("b", "k1") + get("a", "k3") + get("c", "k1"), "");
    EXPECT_EQ(get("a", "k2"), "x=y") << "without surrounding blanks and quotes";
    EXPECT_EQ(get("a", "k2", 3), "x=") << "at most the buffer size less one";
    EXPECT_EQ(get("a", ""), "leer");
    for (auto [section, key, value] : {std::tuple{"a", "k1", "eins"}, {"a", "neu", "a\r\n[b]\nc=d"}, {"b", "k4", "4"},
                                       {"c", "k5", "5"}})
        EXPECT_TRUE(store.writeString(section, key, value, file));
    EXPECT_EQ(bytes(), "[a]\r\nk1=eins\r\nk2=  \"x=y\"  \r\n=leer\r\nneu=a  [b] c=d\r\n\r\n[b]\r\nk3=3\r\nk4=4\r\n"
                       "[c]\r\nk5=5\r\n");
}

TEST_F(Ini, BinaryHugeAndNoFilesNeitherCrashNorGetRewritten) {
    put(QByteArray(70000, '\0') + "\xFF[optionen]\n=\r");
    EXPECT_EQ(get("optionen", "AktivesFenster"), "");
    put("[o]\r\nlang=" + QByteArray(1024 * 1024, 'x') + "\r\nk=1\r\n");
    EXPECT_EQ(get("o", "k"), "1");
    EXPECT_EQ(get("o", "lang").size(), 149);
    put(QByteArray(IniProfileStore::kMaxFileSize + 1, 'a'));
    EXPECT_FALSE(store.writeString("o", "x", "1", file));
    EXPECT_EQ(bytes().size(), IniProfileStore::kMaxFileSize + 1);
    EXPECT_FALSE(store.writeString("a", "b", "c", dir.path() + "/fehlt/x.ini"));
    ASSERT_TRUE(QDir().mkpath(file = dir.path() + "/ordner.ini"));
    EXPECT_EQ(get("a", "b"), "");
    EXPECT_FALSE(store.writeString("a", "b", "c", file));
}

// A folder that takes no new file, holding an options file that may be
// written: the file is rewritten where it stands. Root may create files
// anywhere, so the write runs in a child process without root's rights.
TEST_F(Ini, AWritableFileInAClosedFolderIsRewrittenInPlace) {
    const QString folder = dir.path() + "/zu";
    ASSERT_TRUE(QDir().mkpath(folder));
    file = folder + "/optionen.ini";
    put("[optionen]\r\nAktivesFenster=1\r\n");
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()), 0755) | chmod(QFile::encodeName(file), 0666), 0);
    ASSERT_EQ(chmod(QFile::encodeName(folder), 0555), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        _exit(store.writeString("optionen", "AktivesFenster", "0", file) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(QFile::encodeName(folder), 0755);
    if (status == 2 << 8)
        GTEST_SKIP() << "root's rights could not be given up";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(bytes(), "[optionen]\r\nAktivesFenster=0\r\n");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"optionen.ini"});
}

// Temporary copies a broken write left ("test.ini.xYzabc") go; names that
// read like words, other files' copies, links and folders stay.
TEST_F(Ini, LeftoversOfABrokenWriteAreRemoved) {
    for (const char *name : {"test.ini.xYzabc", "test.ini.backup", "test.ini.Backup", "test.ini.ABCDEF",
                             "test.ini.aBc1eF", "andere.ini.xYzabc"})
        ASSERT_TRUE(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link(dir.filePath("andere.ini.xYzabc"), dir.filePath("test.ini.lInkab")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("test.ini.fOlder"));
    EXPECT_EQ(removeWriteLeftovers(file), 1);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("test.ini.xYzabc")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 7);
}
