#include "speech/htmlform.h"

#include <gtest/gtest.h>

#include <random>

using lesemund::speech::decodeHtmlEntities;
using lesemund::speech::firstHtmlForm;

TEST(HtmlForm, ReadsTheFirstFormWithItsAttributesAndButtons) {
    const auto form = firstHtmlForm(
        "<html><body><FORM Name=f DATA-OUTPUT='wav:aus' data-journal=\"j.log\">"
        "<input type=button name=user1><INPUT TYPE=\"button\" NAME=\"Weiter\"/>"
        "<button name=\"Stop\">Stopp</button></form>"
        "<form data-output=none><input type=button name=pause></form></body></html>");
    ASSERT_TRUE(form.has_value());
    EXPECT_EQ(form->attributes.value("data-output"), "wav:aus");
    EXPECT_EQ(form->attributes.value("data-journal"), "j.log");
    EXPECT_EQ(form->clickableNames(), (QStringList{"user1", "Weiter", "Stop"}));
}

TEST(HtmlForm, ControlsOutsideTheFormDoNotCount) {
    const auto form = firstHtmlForm("<input type=button name=before><form>"
                                    "<input type=button name=inside></form>"
                                    "<input type=button name=after>");
    ASSERT_TRUE(form.has_value());
    EXPECT_EQ(form->clickableNames(), QStringList{"inside"});
}

TEST(HtmlForm, SkipsCommentsScriptsAndTitles) {
    const auto form = firstHtmlForm(
        "<title><form data-output=none></title><!-- <form data-output=none> -->"
        "<script>var s = '<form data-output=none><input name=x>';</script>"
        "<form data-output=sound><!-- <input type=button name=hidden> -->"
        "<input type=button name=user2></form>");
    ASSERT_TRUE(form.has_value());
    EXPECT_EQ(form->attributes.value("data-output"), "sound");
    EXPECT_EQ(form->clickableNames(), QStringList{"user2"});
}

TEST(HtmlForm, NestedFormTagIsIgnoredAndMissingEndTagRunsToTheEnd) {
    const auto form = firstHtmlForm("<form data-output=none><input type=button name=a>"
                                    "<form data-output=sound><input type=button name=b>");
    ASSERT_TRUE(form.has_value());
    EXPECT_EQ(form->attributes.value("data-output"), "none");
    EXPECT_EQ(form->clickableNames(), (QStringList{"a", "b"}));
}

TEST(HtmlForm, DisabledControlsAreNotClickableAndIdsAre) {
    const auto form = firstHtmlForm("<form><input type=button name=a disabled>"
                                    "<input type=button id=Nochmal><input type=button name=c id=d></form>");
    ASSERT_TRUE(form.has_value());
    EXPECT_EQ(form->clickableNames(), (QStringList{"Nochmal", "c", "d"}));
}

TEST(HtmlForm, AttributeValuesAreDecodedAndFirstOccurrenceWins) {
    const auto form = firstHtmlForm("<form data-journal=\"a&amp;b&#228;&#xE4;&quot;\" "
                                    "data-journal=zweiter><input name='x&lt;y'></form>");
    ASSERT_TRUE(form.has_value());
    EXPECT_EQ(form->attributes.value("data-journal"), QString::fromUtf8("a&bää\""));
    EXPECT_EQ(form->clickableNames(), QStringList{"x<y"});
    EXPECT_EQ(decodeHtmlEntities("&unknown; & &#0; &#xZZ;"), "&unknown; & &#0; &#xZZ;");
}

TEST(HtmlForm, NoFormTagMeansNoForm) {
    EXPECT_FALSE(firstHtmlForm("").has_value());
    EXPECT_FALSE(firstHtmlForm("<html><body><p>formlos</p><formular></body></html>").has_value());
    EXPECT_FALSE(firstHtmlForm("<!-- <form> ").has_value());
}

TEST(HtmlForm, SurvivesGarbageAndUnterminatedMarkup) {
    std::mt19937 random(20240601);
    for (int round = 0; round < 50; ++round) {
        QString garbage;
        const int length = 1 + int(random() % 4000);
        for (int i = 0; i < length; ++i) {
            static const char16_t alphabet[] = u"<>/=\"' !-formFORMinputbuttonname\0\x1F\xE4\xFFFD";
            garbage += QChar(alphabet[random() % (sizeof alphabet / sizeof alphabet[0])]);
        }
        (void)firstHtmlForm(garbage); // must return, whatever it finds
    }
    const auto form = firstHtmlForm("<form data-output=\"wav:x><input name=user1");
    ASSERT_TRUE(form.has_value());
    EXPECT_EQ(form->attributes.value("data-output"), "wav:x><input name=user1");
    EXPECT_TRUE(form->clickableNames().isEmpty());
    EXPECT_TRUE(firstHtmlForm("<form").has_value());
}
