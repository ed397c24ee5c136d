// The conversion between Windows' UTF-16 names and the UTF-8 palfill
// prints: every name, lone surrogates included, comes back as it went.
#include "driver/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using palfill::utf16_from_utf8;
using palfill::utf8_from_utf16;

TEST(utf8, converts_names_both_ways) {
  const struct {
    const char* name;
    std::u16string utf16;
    std::string utf8;
  } cases[] = {
      {"ascii", u"in.png", "in.png"},
      {"empty", u"", ""},
      {"japanese", u"番組 データ/画像①.png", "番組 データ/画像①.png"},
      {"two_byte", u"caf\u00e9", "caf\xc3\xa9"},
      {"beyond_the_bmp", u"\U0001F5BC.png", "\xf0\x9f\x96\xbc.png"},
      {"lone_high_surrogate", std::u16string{u'a', char16_t(0xD83D), u'b'},
       "a\xed\xa0\xbd"
       "b"},
      {"lone_low_surrogate", std::u16string{char16_t(0xDC00)}, "\xed\xb0\x80"},
      {"high_then_high", std::u16string{char16_t(0xD800), char16_t(0xD800)},
       "\xed\xa0\x80\xed\xa0\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_from_utf16(c.utf16), c.utf8) << c.name;
    EXPECT_EQ(utf16_from_utf8(c.utf8), c.utf16) << c.name;
  }
}

TEST(utf8, gives_replacement_characters_for_what_is_not_utf8) {
  const struct {
    const char* name;
    std::string bytes;
    std::u16string utf16;
  } cases[] = {
      {"stray_continuation",
       "a\x80"
       "b",
       u"a\uFFFDb"},
      {"cut_sequence", "\xe7\x94", u"\uFFFD\uFFFD"},
      {"overlong", "\xc0\xaf", u"\uFFFD\uFFFD"},
      {"beyond_unicode", "\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"bad_continuation", "\xe7(x", u"\uFFFD(x"},
      {"lead_f5", "\xf5\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"lead_ff", "\xffz", u"\uFFFDz"},
  };
  for (const auto& c : cases) EXPECT_EQ(utf16_from_utf8(c.bytes), c.utf16) << c.name;
}

}  // namespace
