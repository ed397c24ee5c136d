// The CRC-32 that PNG stores after each chunk (over its type and data) and
// that zip stores for each file: ISO 3309 / ITU-T V.42, reflected
// polynomial 0xEDB88320, start 0xFFFFFFFF, the result complemented. An
// empty input gives 0.
#ifndef PALFILL_FORMAT_CRC32_H_
#define PALFILL_FORMAT_CRC32_H_

#include <cstddef>
#include <cstdint>

namespace palfill {

uint32_t crc32(const uint8_t* data, std::size_t count);

}  // namespace palfill

#endif  // PALFILL_FORMAT_CRC32_H_
