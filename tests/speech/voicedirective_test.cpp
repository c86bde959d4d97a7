#include "speech/voicedirective.h"

#include <gtest/gtest.h>

using lesemund::speech::languageForVoice;
using lesemund::speech::prepareSpeechText;

TEST(VoiceDirective, PlainDirectiveIsTakenOff) {
    const auto p = prepareSpeechText("#voice=name:qvx.de.tonra#Guten Tag");
    EXPECT_TRUE(p.hadDirective);
    EXPECT_EQ(p.text, "Guten Tag");
    EXPECT_EQ(p.voiceName, "name:qvx.de.tonra");
    EXPECT_FALSE(p.ssml);
}

TEST(VoiceDirective, QuotedDirectiveIsTakenOffWithItsQuotes) {
    const auto p = prepareSpeechText("\"#voice=name:qvx.de.tonra#\"Guten Tag\r\n");
    EXPECT_EQ(p.text, "Guten Tag\r\n");
    EXPECT_EQ(p.voiceName, "name:qvx.de.tonra");
}

TEST(VoiceDirective, DirectiveAloneLeavesNothing) {
    EXPECT_EQ(prepareSpeechText("#voice=name:qvx.de.tonra#").text, "");
    EXPECT_EQ(prepareSpeechText("\"#voice=name:qvx.de.tonra#\"").text, "");
    EXPECT_EQ(prepareSpeechText("#voice=name:qvx.de.tonra#\r\n").text.trimmed(), "");
}

TEST(VoiceDirective, EveryLeadingDirectiveGoesTheFirstNamesTheVoice) {
    const auto p = prepareSpeechText("#voice=name:qvx.en.tonra#\"#voice=name:qvx.de.tonra#\"Text");
    EXPECT_EQ(p.text, "Text");
    EXPECT_EQ(p.voiceName, "name:qvx.en.tonra");
}

TEST(VoiceDirective, UnterminatedDirectiveEndsAtWhiteSpace) {
    const auto p = prepareSpeechText("#voice=name:qvx.de.tonra Hallo");
    EXPECT_TRUE(p.hadDirective);
    EXPECT_EQ(p.text, " Hallo");
}

TEST(VoiceDirective, TextWithoutDirectiveOrWithOneLaterStaysAsItIs) {
    EXPECT_FALSE(prepareSpeechText("Hallo #voice=x# Welt").hadDirective);
    EXPECT_EQ(prepareSpeechText("Hallo #voice=x# Welt").text, "Hallo #voice=x# Welt");
    EXPECT_EQ(prepareSpeechText("\"Zitat\"").text, "\"Zitat\"");
    EXPECT_EQ(prepareSpeechText("#Voice=").text, "");
}

TEST(VoiceDirective, SsmlIsRecognisedAfterTheDirective) {
    EXPECT_TRUE(prepareSpeechText("#voice=name:qvx.de.tonra#<speak>Hallo</speak>").ssml);
    EXPECT_TRUE(prepareSpeechText("  <SPEAK version=\"1.0\">Hallo</SPEAK>").ssml);
    EXPECT_TRUE(prepareSpeechText("<?xml version=\"1.0\"?><speak>x</speak>").ssml);
    EXPECT_FALSE(prepareSpeechText("Hallo <speak>").ssml);
}

TEST(VoiceDirective, LanguageIsTheFirstDottedPartThatNamesOne) {
    const auto known = [](const QString &code) { return code == "de" || code == "en" || code == "en-us"; };
    EXPECT_EQ(languageForVoice("name:qvx.de.tonra", known), "de");
    EXPECT_EQ(languageForVoice("name:qvx.EN.tonra", known), "en");
    EXPECT_EQ(languageForVoice("en-us", known), "en-us");
    EXPECT_EQ(languageForVoice("name:qvx.xx.tonra", known), "de");
    EXPECT_EQ(languageForVoice("", known), "de");
    EXPECT_EQ(languageForVoice("...::", known), "de");
}
