#include "speech/voicedirective.h"

#include "speechtesting.h"

#include <gtest/gtest.h>

using lesemund::speech::languageForVoice;
using lesemund::speech::prepareSpeechText;

TEST(VoiceDirective, EveryLeadingDirectiveIsTakenOffAndTheFirstNamesTheVoice) {
    const struct {
        QString input, text, voice;
        bool ssml;
    } cases[] = {
        {"#voice=name:qvx.en.tonra#\"#voice=name:qvx.de.tonra#\"Text", "Text", "name:qvx.en.tonra", false},
        {"#voice=name:qvx.de.tonra Hallo", " Hallo", "name:qvx.de.tonra", false}, // unterminated: ends at a blank
        // A directive later in the text, or quotes alone, stay as they are.
        {"Hallo #voice=x# Welt", "Hallo #voice=x# Welt", "", false},
        {"\"Zitat\"", "\"Zitat\"", "", false},
        // SSML begins with <speak or <?xml, after the directive or leading blanks.
        {"#voice=name:qvx.de.tonra#<speak>Hallo</speak>", "<speak>Hallo</speak>", "name:qvx.de.tonra", true},
        {"  <SPEAK version=\"1.0\">Hallo</SPEAK>", "  <SPEAK version=\"1.0\">Hallo</SPEAK>", "", true},
        {"<?xml version=\"1.0\"?><speak>x</speak>", "<?xml version=\"1.0\"?><speak>x</speak>", "", true},
        {"Hallo <speak>", "Hallo <speak>", "", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input.toStdString());
        const auto p = prepareSpeechText(c.input);
        EXPECT_EQ(p.text, c.text);
        EXPECT_EQ(p.voiceName, c.voice);
        EXPECT_EQ(p.ssml, c.ssml);
    }
}

TEST(VoiceDirective, LanguageIsTheFirstPartThatNamesOneInAnyCaseElseGerman) {
    const auto known = [](const QString &code) { return code == "de" || code == "en" || code == "en-us"; };
    EXPECT_EQ(languageForVoice("name:qvx.EN.tonra", known), "en");
    EXPECT_EQ(languageForVoice("en-us", known), "en-us");
    for (const QString voice : {"name:qvx.xx.tonra", "", "...::"})
        EXPECT_EQ(languageForVoice(voice, known), "de") << voice.toStdString();
}
