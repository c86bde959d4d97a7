// Reading the speech page: its first form's output, journal and buttons,
// from pages written the way a browser would still read them.
#include "speech/speechpage.h"

#include "speechtesting.h"

#include <gtest/gtest.h>

using namespace lesemund::speech;
using Output = PageSettings::Output;

TEST(PageSettings, TheFirstFormGivesOutputJournalAndTheKnownButtons) {
    const struct {
        const char *html;
        Output output;
        QString wavFolder, journal;
        QStringList buttons;
    } cases[] = {
        // Any case, <button>, values trimmed, paths in the data folder, only
        // known names matched exactly, a second form ignored.
        {"<html><body><FORM Name=f DATA-OUTPUT=' WAV:aus/wav ' data-journal=\"log/j.txt\">"
         "<input type=button name=user1><INPUT TYPE=\"button\" NAME=\"Weiter\"/><button name=\"Stop\">S</button>"
         "<input type=button name=Extra><input type=button name=stop></form>"
         "<form data-output=none><input type=button name=pause></form>",
         Output::Wav, "/daten/aus/wav", "/daten/log/j.txt", {"user1", "Weiter", "Stop"}},
        // Absolute paths; controls outside the form do not count.
        {"<input type=button name=user2><form data-output=\"wav:/tmp/abs\" data-journal=\"/tmp/j\">"
         "<input type=button name=Hilfe></form><input type=button name=Sprech>",
         Output::Wav, "/tmp/abs", "/tmp/j", {"Hilfe"}},
        // Titles, comments and scripts are skipped; an unknown output is sound.
        {"<title><form data-output=none></title><!-- <form data-output=none> -->"
         "<script>var s = '<form data-output=none><input name=x>';</script><form data-output=Lautsprecher>"
         "<!-- <input type=button name=Stop> --><input type=button name=user2></form>",
         Output::Sound, "", "", {"user2"}},
        // A nested form tag is ignored, a missing end tag runs to the end;
        // a WAV output without a folder is the data folder.
        {"<form data-output=\"wav:\"><input type=button name=pause><form data-output=none>"
         "<input type=button name=Weiter>", Output::Wav, "/daten", "", {"pause", "Weiter"}},
        // Disabled controls are not clickable; ids are.
        {"<form data-output=NONE><input type=button name=user1 disabled><input type=button id=Nochmal>"
         "<input type=button name=Extra id=Stop></form>", Output::None, "", "", {"Nochmal", "Stop"}},
        // Values are decoded, unknown references kept; the first occurrence wins.
        {"<form data-output=\"wav:&#x2F;tmp&#47;a&amp;b&#228;\" data-output=none data-journal='j&lt;&unknown;&#xZZ;'>"
         "<input name='user&#49;'></form>", Output::Wav, "/tmp/a&bä", "/daten/j<&unknown;&#xZZ;", {"user1"}},
        // An unterminated value runs to the end of the text.
        {"<form data-output=\"wav:x><input name=user1", Output::Wav, "/daten/x><input name=user1", "", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.html);
        const auto s = readPageSettings(QString::fromUtf8(c.html), "/daten");
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->output, c.output);
        EXPECT_EQ(c.output == Output::Wav ? s->wavFolder : QString(), c.wavFolder);
        EXPECT_EQ(s->journalPath, c.journal);
        EXPECT_EQ(s->buttons, c.buttons);
    }
    for (const char *formless : {"", "<html><body><p>formlos</p><formular></body></html>", "<!-- <form> "})
        EXPECT_FALSE(readPageSettings(formless, "/daten").has_value()) << formless;
}
