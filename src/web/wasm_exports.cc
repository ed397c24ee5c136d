// What the WebAssembly module exports besides the C interface of
// palfill.h: memory for JavaScript to hand bytes in and out through, and
// the core's CRC-32, which the page's zip writer needs for every file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "format/crc32.h"

extern "C" {

void* palfill_web_alloc(std::size_t size) {
  return std::malloc(size == 0 ? 1 : size);
}

void palfill_web_release(void* bytes) {
  std::free(bytes);
}

uint32_t palfill_web_crc32(const uint8_t* bytes, std::size_t size) {
  return palfill::crc32(bytes, size);
}

}  // extern "C"
