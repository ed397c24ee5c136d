#include "utf8.h"

#include <cstdint>

namespace palfill {
namespace {

bool is_high_surrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

void append_utf8(std::string& out, uint32_t code_point) {
  const auto byte = [&out](uint32_t value) { out.push_back(static_cast<char>(value)); };
  if (code_point < 0x80) {
    byte(code_point);
  } else if (code_point < 0x800) {
    byte(0xC0 | code_point >> 6);
    byte(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    byte(0xE0 | code_point >> 12);
    byte(0x80 | (code_point >> 6 & 0x3F));
    byte(0x80 | (code_point & 0x3F));
  } else {
    byte(0xF0 | code_point >> 18);
    byte(0x80 | (code_point >> 12 & 0x3F));
    byte(0x80 | (code_point >> 6 & 0x3F));
    byte(0x80 | (code_point & 0x3F));
  }
}

void append_utf16(std::u16string& out, uint32_t code_point) {
  if (code_point < 0x10000) {
    out.push_back(static_cast<char16_t>(code_point));
  } else {
    out.push_back(static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF)));
  }
}

// The sequence starting at text[at]: its code point and length, or
// U+FFFD and 1 when it is not one that append_utf8() writes.
uint32_t decode_utf8(const std::string& text, std::size_t at, std::size_t& length) {
  const auto unit = [&text](std::size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint32_t lead = unit(at);
  length = lead < 0x80    ? 1
           : lead >= 0xF5 ? 0  // would begin a code point past U+10FFFF
           : lead >= 0xF0 ? 4
           : lead >= 0xE0 ? 3
           : lead >= 0xC2 ? 2
                          : 0;
  if (length == 1) return lead;
  if (length == 0 || text.size() - at < length) {
    length = 1;
    return 0xFFFD;
  }
  uint32_t code_point = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((unit(at + i) & 0xC0) != 0x80) {
      length = 1;
      return 0xFFFD;
    }
    code_point = code_point << 6 | (unit(at + i) & 0x3F);
  }
  constexpr uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code_point < shortest[length] || code_point > 0x10FFFF) {
    length = 1;
    return 0xFFFD;
  }
  return code_point;
}

}  // namespace

std::string utf8_from_utf16(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const uint32_t unit = text[i];
    if (is_high_surrogate(unit) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
      append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      append_utf8(out, unit);  // a lone surrogate too
    }
  }
  return out;
}

std::u16string utf16_from_utf8(const std::string& text) {
  std::u16string out;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    append_utf16(out, decode_utf8(text, at, length));
  }
  return out;
}

}  // namespace palfill
