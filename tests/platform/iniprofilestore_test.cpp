#include "platform/iniprofilestore.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
    EXPECT_EQ(bytes(), QByteArray("[Optionen]\r\naktivesfenster=0\r\n"));
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

TEST_F(Ini, LineEndsInsideAValueCannotSplitTheFile) {
    store.writeString("o", "k", "a\r\n[b]\nc=d", file);
    EXPECT_EQ(get("b", "c"), "");
    EXPECT_EQ(get("o", "k"), "a  [b] c=d");
}
