// Reading the speech page's first form, and the voice directive of a text.
#include "speech/speechpage.h"
#include "speech/voicedirective.h"

#include <gtest/gtest.h>

using namespace lesemund::speech;

// Output, WAV folder, journal and buttons of a page's first form, or "-" without one.
TEST(PageSettings, TheFirstFormGivesOutputJournalAndTheKnownButtons) {
    const std::pair<const char *, QString> cases[] = {
        // Any case, <button>, values trimmed, paths in the data folder, known
        // names only and exactly, end tags inside, a second form ignored.
        {"<FORM Name=f DATA-OUTPUT=' WAV:aus/wav ' data-journal=\"log/j.txt\"><input type=button name=user1>"
         "<button name=\"Stop\">S</button><INPUT TYPE=\"button\" NAME=\"Weiter\"/><input name=Extra>"
         "<input type=button name=stop></form><form data-output=none><input type=button name=pause></form>",
         "wav /daten/aus/wav /daten/log/j.txt user1,Stop,Weiter"},
        // Absolute paths; controls outside the form, and tags that only begin with "form", do not count.
        {"<input type=button name=user2><form_alt data-output=none><form data-output=\"wav:/tmp/abs\" "
         "data-journal=\"/tmp/j\"><input type=button name=Hilfe></form><input type=button name=Sprech>",
         "wav /tmp/abs /tmp/j Hilfe"},
        // Titles, comments and scripts are skipped; an unknown output is sound.
        {"<title><form data-output=none></title><!-- <form data-output=none> -->"
         "<script>var s = '<form data-output=none><input name=x>';</script><form data-output=Lautsprecher>"
         "<!-- <input type=button name=Stop> --><input type=button name=user2></form>", "sound   user2"},
        // A nested form tag is ignored, a missing end tag runs to the end;
        // a WAV output without a folder is the data folder.
        {"<form data-output=\"wav:\"><input type=button name=pause><form data-output=none>"
         "<input type=button name=Weiter>", "wav /daten  pause,Weiter"},
        // Disabled controls are not clickable; ids are.
        {"<form data-output=NONE><input type=button name=user1 disabled><input type=button id=Nochmal>"
         "<input type=button name=Extra id=Stop></form>", "none   Nochmal,Stop"},
        // Values are decoded, unknown references kept; the first occurrence wins.
        {"<form data-output=\"wav:&#x2F;tmp&#47;a&amp;b&#228;\" data-output=none data-journal='j&lt;&unknown;&#xZZ;'>"
         "<input name='user&#49;'></form>", "wav /tmp/a&bä /daten/j<&unknown;&#xZZ; user1"},
        {"<form data-output=\"wav:x><input name=user1", "wav /daten/x><input name=user1  "}, // runs to the end
        {"<html><body><p>formlos</p><formular></body></html>", "-"},
        {"<!-- <form> ", "-"},
        {"<form data-output=' SpeechD '><input type=button name=Stop>", "speechd   Stop"}, // speech-dispatcher
    };
    for (const auto &[html, expected] : cases) {
        const auto s = readPageSettings(QString::fromUtf8(html), "/daten");
        EXPECT_EQ((!s ? "-" : QStringList{QStringList{"sound", "wav", "none", "speechd"}[int(s->output)], s->wavFolder,
                                          s->journalPath, s->buttons.join(',')}.join(' ')).toStdString(),
                  expected.toStdString()) << html;
    }
}

// The text spoken, the voice and whether it is SSML.
TEST(VoiceDirective, LeadingDirectivesAreTakenOffTheFirstNamesTheVoiceAndItsLanguage) {
    const std::pair<QString, QString> cases[] = {
        {"#voice=name:qvx.en.tonra#\"#voice=name:qvx.de.tonra#\"Text", "Text|name:qvx.en.tonra|0"},
        {"#voice=name:qvx.de.tonra Hallo", " Hallo|name:qvx.de.tonra|0"}, // unterminated: ends at a blank
        {"Hallo #voice=x# Welt", "Hallo #voice=x# Welt||0"},              // not leading
        {"\"Zitat\"", "\"Zitat\"||0"},
        {"#voice=x#\"Zitat\"", "\"Zitat\"|x|0"},
        {"#voice=name:qvx.de.tonra#<speak>Hallo</speak>", "<speak>Hallo</speak>|name:qvx.de.tonra|1"},
        {"  <SPEAK version=\"1.0\">Hallo</SPEAK>", "  <SPEAK version=\"1.0\">Hallo</SPEAK>||1"},
        {"<?xml version=\"1.0\"?><speak>x</speak>", "<?xml version=\"1.0\"?><speak>x</speak>||1"},
        {"Hallo <speak>", "Hallo <speak>||0"},
    };
    for (const auto &[input, expected] : cases) {
        const PreparedText p = prepareSpeechText(input);
        EXPECT_EQ((p.text + "|" + p.voiceName + "|" + QString::number(p.ssml)).toStdString(), expected.toStdString());
    }
    const auto known = [](const QString &code) { return code == "de" || code == "en" || code == "en-us"; };
    for (const auto &[voice, language] : {std::pair<QString, QString>{"name:qvx.EN.tonra", "en"}, {"en-us", "en-us"},
                                          {"name:qvx.xx.tonra", "de"}, {"", "de"}, {"...::", "de"}})
        EXPECT_EQ(languageForVoice(voice, known), language) << voice.toStdString();
}
