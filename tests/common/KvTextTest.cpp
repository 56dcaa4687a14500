#include "common/KvText.h"

#include <clocale>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

// Switches the process to a comma-decimal locale for one test, as Qt does with the
// user's locale at start-up.
class CommaLocale
{
public:
    CommaLocale() : m_active(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {}
    ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
    bool Active() const { return m_active; }

private:
    bool m_active;
};

} // namespace

TEST(KvText, Utf8Utf16AndWideRoundTripOutsideTheBasicPlane)
{
    const std::string utf8 = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5.mp3"; // é € 🎵
    const std::u16string utf16 = Utf8ToUtf16(utf8);
    EXPECT_EQ(utf16.size(), 13u); // the note needs a surrogate pair
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(WideToUtf8(Utf8ToWide(utf8)), utf8);
    EXPECT_EQ(Utf16ToWide(WideToUtf16(Utf8ToWide(utf8))), Utf8ToWide(utf8));
}

TEST(KvText, BrokenInputBecomesReplacementCharacters)
{
    EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\xFFFD" L"b");
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\xFFFD\xFFFD"); // overlong "/"
    EXPECT_EQ(Utf16ToWide(std::u16string(1, char16_t(0xD800))), L"\xFFFD");
}

TEST(KvText, Utf8Validation)
{
    EXPECT_TRUE(IsValidUtf8("plain ascii"));
    EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD")); // a real U+FFFD
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x8E\xB5"));
    EXPECT_FALSE(IsValidUtf8("Latin-1 caf\xE9"));
    EXPECT_FALSE(IsValidUtf8("\xE2\x82")); // truncated
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // encoded surrogate
}

TEST(KvText, NumbersUseTheCLocaleWhateverTheProcessLocale)
{
    CommaLocale locale;
    if (!locale.Active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    EXPECT_EQ(FormatDouble(3723.456), "3723.46");
    EXPECT_EQ(FormatDouble(0.0005), "0.0005");
    EXPECT_EQ(FormatDoubleW(1.5), L"1.5");
    EXPECT_EQ(FormatDoubleAs("%3.3lf%%", 42.5), "42.500%");
    EXPECT_DOUBLE_EQ(ParseDouble("3723.46"), 3723.46);
    EXPECT_DOUBLE_EQ(ParseDoubleW(L"0.25xyz"), 0.25);
    double value = 0;
    EXPECT_TRUE(TryParseDouble(" 12.5 ", value));
    EXPECT_DOUBLE_EQ(value, 12.5);
    EXPECT_FALSE(TryParseDouble("12,5", value));
}

TEST(KvText, ParsingTakesTheLeadingNumberAndDefaultsToZero)
{
    EXPECT_EQ(ParseIntW(L"  42abc"), 42);
    EXPECT_EQ(ParseIntW(L"-7"), -7);
    EXPECT_EQ(ParseIntW(L"abc"), 0);
    EXPECT_EQ(ParseInt("99999999999"), 2147483647);
    EXPECT_DOUBLE_EQ(ParseDoubleW(L""), 0.0);
    double value = 7;
    EXPECT_FALSE(TryParseDouble("", value));
    EXPECT_FALSE(TryParseDouble("inf", value));
    EXPECT_FALSE(TryParseDouble("nan", value));
    EXPECT_FALSE(TryParseDouble("1e999", value));
    EXPECT_DOUBLE_EQ(value, 7);
}
