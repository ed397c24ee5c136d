// Big-endian integers, as every multi-byte field of a PNG file and of a
// CLUT file is stored: the most significant byte first.
#ifndef PALFILL_FORMAT_BYTE_ORDER_H_
#define PALFILL_FORMAT_BYTE_ORDER_H_

#include <cstdint>

namespace palfill {

inline uint16_t get_be16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

inline uint32_t get_be32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
         uint32_t{bytes[3]};
}

inline void put_be32(uint32_t value, uint8_t* dest) {
  dest[0] = static_cast<uint8_t>(value >> 24);
  dest[1] = static_cast<uint8_t>(value >> 16);
  dest[2] = static_cast<uint8_t>(value >> 8);
  dest[3] = static_cast<uint8_t>(value);
}

}  // namespace palfill

#endif  // PALFILL_FORMAT_BYTE_ORDER_H_
