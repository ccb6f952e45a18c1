// Texts from a format and arguments: each conversion takes its argument, an argument is never read as
// a format, and formats that do not match their arguments still give a text.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "platform/foundation/Format.h"

namespace {

using brelvox::foundation::FormatArgument;
using brelvox::foundation::FormatWithArguments;
using brelvox::foundation::StringWithFormat;

TEST(Format, TheWindowsMessagesFillWithTheirArguments) {
    EXPECT_EQ(StringWithFormat("You have selected %@ in %d file(s).", "0 byte", 0),
              "You have selected 0 byte in 0 file(s).");
    EXPECT_EQ(StringWithFormat("You have selected %@ in %d file(s).", "1.50 GB", 16777217),
              "You have selected 1.50 GB in 16777217 file(s).");
    EXPECT_EQ(StringWithFormat("%@(%llu)", "2019", std::uint64_t(18446744073709551615u)), "2019(18446744073709551615)");
    EXPECT_EQ(StringWithFormat("%lld", std::int64_t(-9223372036854775807 - 1)), "-9223372036854775808");
    EXPECT_EQ(StringWithFormat("%0.2f GB", 1.5), "1.50 GB");
    EXPECT_EQ(StringWithFormat("%.0f byte", 512.0), "512 byte");
    EXPECT_EQ(StringWithFormat("%f", 0.25), "0.250000");
    EXPECT_EQ(StringWithFormat("%04d/%02d", 2009, 3), "2009/03");
    EXPECT_EQ(StringWithFormat("%dIconImage", 10), "10IconImage");
    EXPECT_EQ(StringWithFormat("%02d-%02d-%04d at %02d:%02d:%02d", 3, 4, 2021, 5, 6, 8), "03-04-2021 at 05:06:08");
    EXPECT_EQ(StringWithFormat("New features of Version %@:", "2.1"), "New features of Version 2.1:");
    EXPECT_EQ(StringWithFormat("100%% of %d", 7), "100% of 7");
    EXPECT_EQ(StringWithFormat("%x %X %o %5d|%-5d|", 255u, 255u, 8u, 42, 42), "ff FF 10    42|42   |");
    EXPECT_EQ(StringWithFormat("no conversions"), "no conversions");
}

TEST(Format, AnArgumentIsNeverReadAsAFormat) {
    EXPECT_EQ(StringWithFormat("You have selected %@ in %d file(s).", "%d", 3), "You have selected %d in 3 file(s).");
    EXPECT_EQ(StringWithFormat("%@ and %@", "%s%s%s%n", "%@"), "%s%s%s%n and %@");
    EXPECT_EQ(StringWithFormat("[%s]", "100%"), "[100%]");
    // A name read from disk with every byte a format could misuse.
    const std::string hostile("a%\0b%%c%99999999d", 18);
    EXPECT_EQ(StringWithFormat("<%@>", hostile), "<" + hostile + ">");
}

TEST(Format, MismatchedFormatsStillGiveAText) {
    struct Case {
        const char* format;
        std::vector<FormatArgument> arguments;
        std::string expected;
    };
    const Case cases[] = {
        // More conversions than arguments: the rest is copied as written.
        {"%@ in %d file(s).", {"3 KB"}, "3 KB in %d file(s)."},
        {"%d %d", {}, "%d %d"},
        // Arguments left over are ignored.
        {"%d", {1, 2, "x"}, "1"},
        // Numbers where a text is asked for, and the other way round.
        {"%@ %@ %@", {-5, std::uint64_t(7), 0.5}, "-5 7 0.5"},
        {"%d files", {"many"}, "many files"},
        {"%f", {"n/a"}, "n/a"},
        {"%d %f %llu", {2.9, 3, -1}, "2 3.000000 -1"},
        {"%u", {std::uint64_t(18446744073709551615u)}, "18446744073709551615"},
        {"%d", {std::uint64_t(18446744073709551615u)}, "18446744073709551615"},
        {"%lld", {1e300}, "9223372036854775807"},
        {"%d", {std::numeric_limits<double>::quiet_NaN()}, "0"},
        // Letters we do not fill, '*' and a trailing '%' are copied as written, taking no argument.
        {"%n%p%c %d", {4}, "%n%p%c 4"},
        {"%*d|%d", {6}, "%*d|6"},
        {"50%", {1}, "50%"},
        {"%", {}, "%"},
        {"%ll", {1}, "%ll"},
        // Widths and precisions beyond 4096 are not taken.
        {"%99999d|%.5000f|%d", {1, 2.0, 3}, "%99999d|%.5000f|1"},
        {"%4096d", {1}, std::string(4095, ' ') + "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(FormatWithArguments(c.format, c.arguments), c.expected);
    }
}

}  // namespace
