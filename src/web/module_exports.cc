// What the npm module's WebAssembly exports besides the C interface of
// palfill.h: memory for JavaScript to hand bytes in and out through, the
// core's CRC-32, and the results' names, which the build lists. The page's
// module (page_exports.cc) carries these too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "format/crc32.h"
#include "messages/messages.h"
#include "palfill.h"

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

// The result's name as palfill.h spells it without its prefix; null past
// the last, so that the build lists them all.
const char* palfill_web_result_name(int result) {
  return palfill::result_name(palfill_result(result));
}

}  // extern "C"
