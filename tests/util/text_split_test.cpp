#include "util/text_split.h"
#include "util/c_numbers.h"
#include "tests/support/decimal_comma_locale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

using kavro::TextTokens;

TEST(TextTokens, EveryBlankSplitsAndTokensKeepTheirBlank) {
    TextTokens t(std::string_view("2 0.5  x "));
    ASSERT_EQ(t.count(), 5u);
    EXPECT_EQ(t.token(0), "2 ");
    EXPECT_EQ(t.token(1), "0.5 ");
    EXPECT_EQ(t.token(2), " ");
    EXPECT_EQ(t.token(3), "x ");
    EXPECT_EQ(t.token(4), "");
    EXPECT_EQ(t.word(1), "0.5");
    EXPECT_EQ(t.word(2), "");

    TextTokens one(std::string_view("getconf"));
    ASSERT_EQ(one.count(), 1u);
    EXPECT_EQ(one.token(0), "getconf");
    TextTokens set(std::string_view("setconf preset 2.xml"));
    EXPECT_EQ(set.token(0), "setconf ");
    EXPECT_EQ(set.word(1), "preset");
    EXPECT_EQ(set.token(2), "2.xml");
}

TEST(TextTokens, TextEndsAtNulAndPastTheEndReadsEmpty) {
    const char data[] = {'1', ' ', '2', '\0', ' ', '3'};
    TextTokens t(data, sizeof data);
    EXPECT_EQ(t.text(), "1 2");
    ASSERT_EQ(t.count(), 2u);
    EXPECT_EQ(t.token(2), "");
    EXPECT_EQ(t.as_int(1000000), 0);
    EXPECT_EQ(t.as_double(5), 0.0);

    TextTokens empty(nullptr, 10);
    EXPECT_EQ(empty.count(), 1u);
    EXPECT_EQ(empty.as_int(0), 0);
}

TEST(TextTokens, NumbersReadLikeTheCConversions) {
    TextTokens t(std::string_view("-2 +7 3.5e1 .25\r\n abc 12abc 99999999999 -99999999999 0x10 \t-4"));
    EXPECT_EQ(t.as_int(0), -2);
    EXPECT_EQ(t.as_int(1), 7);
    EXPECT_DOUBLE_EQ(t.as_double(2), 35.0);
    EXPECT_EQ(t.as_int(2), 3);
    EXPECT_DOUBLE_EQ(t.as_double(3), 0.25); // a trailing line end does no harm
    EXPECT_EQ(t.as_int(4), 0);  // "abc "
    EXPECT_EQ(t.as_int(5), 12); // "12abc "
    EXPECT_EQ(t.as_int(6), INT32_MAX);
    EXPECT_EQ(t.as_int(7), INT32_MIN);
    EXPECT_EQ(t.as_int(8), 0);  // decimal only
    EXPECT_EQ(t.as_int(9), -4); // leading white space skipped
    EXPECT_FLOAT_EQ(t.as_float(3), 0.25f);
}

TEST(TextTokens, DecimalPointWhateverTheLocale) {
    // The window system sets the user's locale; datagrams still use a decimal point.
    kavro::test::DecimalCommaLocale french;
    ASSERT_TRUE(french.ok()) << french.why();
    EXPECT_DOUBLE_EQ(TextTokens::parse_double("0.5"), 0.5);
    EXPECT_EQ(TextTokens::parse_int(" -42 "), -42);
    char* end = nullptr;
    const char* text = "-1.25e1,5";
    EXPECT_FLOAT_EQ(kavro::c_strtof(text, &end), -12.5f);
    EXPECT_EQ(end, text + 7);
    EXPECT_EQ(kavro::c_strtol("0x1F", nullptr, 16), 31);
    EXPECT_EQ(kavro::format_fixed(1000.0, 6), "1000.000000");
    EXPECT_EQ(kavro::format_fixed(-48.1173019409, 6), "-48.117302");
}
