// Reading the skin description without any window: the values the UI manager gets,
// and the files it must never hand to TinyXML.

#include "ui/KvSkinDescription.h"

#include <gtest/gtest.h>

#include <string>

TEST(KvSkinDescription, ElementsComeInOrderWithTheValuesTheFileGives)
{
    tagKvSkinDescription description;
    ASSERT_TRUE(ParseSkinDescription("<skin><background>skin/bg.png</background>"
                                     "<button x=\"10\" y=\"x\" id=\"12abc\" fontid=\"3\"><text>OK</text><tooltip/></button>"
                                     "<progress maxpos=\"100.5\" curpos=\"half\"/></skin>",
                                     description));
    ASSERT_EQ(description.elements.size(), 3u);
    EXPECT_EQ(description.elements[0].name, "background");
    EXPECT_EQ(description.elements[0].text, "skin/bg.png");

    const tagKvSkinElement& button = description.elements[1];
    EXPECT_EQ(button.Int("x", -1), 10);
    EXPECT_EQ(button.Int("y", -1), -1) << "not a number: the fallback";
    EXPECT_EQ(button.Int("id", -1), 12) << "leading digits, as TinyXML reads them";
    EXPECT_TRUE(button.HasInt("fontid"));
    EXPECT_FALSE(button.HasInt("state"));
    ASSERT_NE(button.ChildText("text"), nullptr);
    EXPECT_EQ(*button.ChildText("text"), "OK");
    ASSERT_NE(button.ChildText("tooltip"), nullptr) << "an empty child is still there";
    EXPECT_TRUE(button.ChildText("tooltip")->empty());
    EXPECT_EQ(button.ChildText("background"), nullptr);

    EXPECT_EQ(description.elements[2].Double("maxpos", 0.0), 100.5);
    EXPECT_EQ(description.elements[2].Double("curpos", 7.0), 7.0);
}

// TinyXML recursed once per level and took the front end down with a stack overflow.
TEST(KvSkinDescription, NestingTooDeepForTinyXmlIsRefused)
{
    std::string text = "<skin>";
    for (int i = 0; i < 100000; ++i)
        text += "<button x=\"1\">";
    tagKvSkinDescription description;
    EXPECT_FALSE(ParseSkinDescription(text, description));
    EXPECT_TRUE(description.elements.empty());
}
