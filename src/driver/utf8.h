// Between the UTF-16 that Windows names its files in and the UTF-8 that
// palfill prints them in. Windows allows a lone surrogate in a name; it is
// carried as its own three-byte form (WTF-8), so that a name converted one
// way and back comes out as it went in. Bytes that are not UTF-8 (never
// made here) come back as U+FFFD.
#ifndef PALFILL_DRIVER_UTF8_H_
#define PALFILL_DRIVER_UTF8_H_

#include <string>

namespace palfill {

std::string utf8_from_utf16(const std::u16string& text);
std::u16string utf16_from_utf8(const std::string& text);

}  // namespace palfill

#endif  // PALFILL_DRIVER_UTF8_H_
