#include "format/crc32.h"

#include <array>

namespace palfill {
namespace {

// Eight tables, so that the CRC takes eight bytes a step ("slicing by 8"):
// the palette chunks' CRC is most of a small image's conversion otherwise.
// Table k gives the CRC of a byte followed by k zero bytes.
using crc_tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr crc_tables build_crc_tables() {
  crc_tables tables{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables[0][n] = c;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      const uint32_t previous = tables[k - 1][n];
      tables[k][n] = tables[0][previous & 0xFFu] ^ (previous >> 8);
    }
  }
  return tables;
}

constexpr crc_tables crc_table = build_crc_tables();

}  // namespace

uint32_t crc32(const uint8_t* data, std::size_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  std::size_t i = 0;
  for (; count - i >= 8; i += 8) {
    const uint32_t low = crc ^ (uint32_t{data[i]} | uint32_t{data[i + 1]} << 8 |
                                uint32_t{data[i + 2]} << 16 | uint32_t{data[i + 3]} << 24);
    crc = crc_table[7][low & 0xFFu] ^ crc_table[6][low >> 8 & 0xFFu] ^
          crc_table[5][low >> 16 & 0xFFu] ^ crc_table[4][low >> 24] ^ crc_table[3][data[i + 4]] ^
          crc_table[2][data[i + 5]] ^ crc_table[1][data[i + 6]] ^ crc_table[0][data[i + 7]];
  }
  for (; i < count; ++i) crc = crc_table[0][(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace palfill
