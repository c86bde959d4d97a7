#include "speech/speechpage.h"

#include "support/tempdatafolder.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <chrono>

using namespace lesemund::speech;
using Output = PageSettings::Output;

TEST(PageSettings, DefaultsToSoundAndNoJournal) {
    const auto s = readPageSettings("<form><input type=button name=user1></form>", "/daten");
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->output, Output::Sound);
    EXPECT_TRUE(s->journalPath.isEmpty());
    EXPECT_EQ(s->buttons, QStringList{"user1"});
    EXPECT_EQ(readPageSettings("<form data-output=\"Lautsprecher\">", "/daten")->output, Output::Sound);
}

TEST(PageSettings, WavFolderAndJournalAreResolvedAgainstTheDataFolder) {
    auto s = readPageSettings("<form data-output=\" WAV:aus/wav \" data-journal=\"log/j.txt\">", "/daten/lesemund");
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->output, Output::Wav);
    EXPECT_EQ(s->wavFolder, "/daten/lesemund/aus/wav");
    EXPECT_EQ(s->journalPath, "/daten/lesemund/log/j.txt");

    s = readPageSettings("<form data-output=\"wav:/tmp/abs\" data-journal=\"/tmp/j\">", "/daten");
    EXPECT_EQ(s->wavFolder, "/tmp/abs");
    EXPECT_EQ(s->journalPath, "/tmp/j");

    s = readPageSettings("<form data-output=\"wav:\">", "/daten");
    EXPECT_EQ(s->wavFolder, "/daten");
    EXPECT_EQ(readPageSettings("<form data-output=NONE>", "/daten")->output, Output::None);
}

TEST(PageSettings, OnlyDeclaredNamesThatAreKnownButtonsAreBound) {
    const auto s = readPageSettings("<form><input type=button name=user1><input type=button name=Extra>"
                                    "<input type=button name=stop><input type=button name=Nochmal></form>",
                                    "/d");
    ASSERT_TRUE(s.has_value());
    // Names are matched exactly: "stop" is not "Stop".
    EXPECT_EQ(s->buttons, (QStringList{"user1", "Nochmal"}));
}

TEST(PageButtons, NineButtonsWithTheirFiles) {
    EXPECT_EQ(knownButton("user1")->command, PageCommand::SpeakNow);
    EXPECT_EQ(knownButton("user1")->file, "text.txt");
    EXPECT_EQ(knownButton("user2")->command, PageCommand::Queue);
    EXPECT_EQ(knownButton("user2")->file, "text.txt");
    EXPECT_EQ(knownButton("fenster1")->file, "fenster.txt");
    EXPECT_EQ(knownButton("Hilfe")->file, "fenster.txt");
    EXPECT_EQ(knownButton("Hilfe")->command, PageCommand::SpeakNow);
    EXPECT_EQ(knownButton("Sprech")->file, "hilfe.txt");
    EXPECT_EQ(knownButton("pause")->command, PageCommand::Pause);
    EXPECT_EQ(knownButton("Weiter")->command, PageCommand::Resume);
    EXPECT_EQ(knownButton("Stop")->command, PageCommand::Stop);
    EXPECT_EQ(knownButton("Nochmal")->command, PageCommand::Repeat);
    EXPECT_FALSE(knownButton("Pause").has_value());
    EXPECT_FALSE(knownButton("").has_value());
}

TEST(JournalLine, TabsBetweenAndLineEndsEscaped) {
    EXPECT_EQ(journalLine("2024-01-02T03:04:05.678", "user1", QString::fromUtf8("Ä\r\nb\nc\r")),
              QByteArray("2024-01-02T03:04:05.678\tuser1\t\xC3\x84\\r\\nb\\nc\\r\n"));
    EXPECT_EQ(journalLine("t", "pause", ""), QByteArray("t\tpause\t\n"));
}

TEST(RegularFile, ReadsRegularFilesUpToTheLimit) {
    lesemund::testing::TempDataFolder folder(false);
    folder.write("a.txt", "0123456789");
    EXPECT_EQ(readRegularFile(folder.path("a.txt"), 100).value(), "0123456789");
    EXPECT_EQ(readRegularFile(folder.path("a.txt"), 4).value(), "0123");
    folder.write("leer.txt", "");
    EXPECT_EQ(readRegularFile(folder.path("leer.txt"), 100).value(), "");
    EXPECT_FALSE(readRegularFile(folder.path("fehlt.txt"), 100).has_value());
    EXPECT_FALSE(readRegularFile(folder.dataFolder(), 100).has_value());
    EXPECT_FALSE(readRegularFile("", 100).has_value());
}

TEST(RegularFile, SpecialFilesAreRefusedWithoutBlocking) {
    lesemund::testing::TempDataFolder folder(false);
    const QByteArray fifo = QFile::encodeName(folder.path("fifo"));
    ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(readRegularFile(folder.path("fifo"), 100).has_value());
    EXPECT_FALSE(readRegularFile("/dev/zero", 100).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}
