// The host's conversions between its UTF-8 names and the UTF-16 that the
// library (and, on Windows, the command line) takes.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "utf16.h"

namespace tintwell_cli {
namespace {

struct RoundTrip {
    std::string utf8;
    std::u16string utf16;

    // Printed by name: the default prints the object's bytes, unset ones included.
    friend void PrintTo(const RoundTrip& row, std::ostream* out) { *out << '"' << row.utf8 << '"'; }
};

class Utf16RoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Utf16RoundTrip, ConvertsBothWays) {
    EXPECT_EQ(Utf8ToUtf16(GetParam().utf8), GetParam().utf16);
    EXPECT_EQ(Utf16ToUtf8(GetParam().utf16), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Names, Utf16RoundTrip,
                         ::testing::Values(RoundTrip{"", u""}, RoundTrip{"a b.bmp", u"a b.bmp"},
                                           RoundTrip{"\xC3\xA9.bmp", u"\u00E9.bmp"},          // two bytes
                                           RoundTrip{"\xEC\x82\xAC\xEC\xA7\x84", u"\uC0AC\uC9C4"},  // three
                                           RoundTrip{"\xEF\xBF\xBF", u"\uFFFF"},
                                           RoundTrip{"\xF0\x9F\x98\x80", u"\U0001F600"},      // a pair
                                           RoundTrip{"\xF4\x8F\xBF\xBF", u"\U0010FFFF"}));

TEST(Utf16ToUtf8, RefusesLoneSurrogates) {
    for (const std::u16string& text : {std::u16string(1, u'\xD800'), std::u16string(1, u'\xDC00'),
                                       std::u16string{u'a', u'\xD83D'}, std::u16string{u'\xDE00', u'\xD83D'},
                                       std::u16string{u'\xD83D', u'b', u'\xDE00'}}) {
        EXPECT_EQ(Utf16ToUtf8(text), std::nullopt);
    }
}

TEST(PathOf, KeepsUtf8NamesWhole) {
    const std::string name = "\xEC\x82\xAC\xEC\xA7\x84/\xC3\xA9.bmp";
    EXPECT_EQ(Utf8Of(PathOf(name)), name);
    EXPECT_EQ(Utf8Of(PathOf(name).filename()), "\xC3\xA9.bmp");
}

}  // namespace
}  // namespace tintwell_cli
