// libFuzzer target for the PNG pass, run in process: for any bytes, the
// streaming pass gives the output and the result of the whole-chunk
// reference, whether its input behaves as a file or a pipe, its output as a
// file or a pipe, and whatever the block size. palfill_convert() gives the
// references' bytes and result too, with the default colours and with the
// input's own first bytes taken as a CLUT file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "full_palette.h"
#include "palette/palette_table.h"
#include "png/chunk_pass.h"
#include "reference.h"

using namespace palfill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // Seeded once: the pass only reads it.
  static const palette_table& table = *[] {
    static palette_table seeded;
    seed_palette_table(seeded);
    return &seeded;
  }();
  const reference_output want = reference_convert(input, table);
  // Small blocks put every boundary inside headers and chunk ends; the last
  // holds the whole input, as the default block does for small files (the
  // default itself costs the sanitizers more than the rest of the run).
  for (const std::size_t block : {std::size_t{32}, 33 + size % 61, size + 64}) {
    for (const bool length_known : {true, false}) {
      for (const bool can_cut : {true, false}) {
        const reference_output got = convert_in_memory(input, table, length_known, can_cut, block);
        if (got.result != want.result || got.bytes != want.bytes) std::abort();
      }
    }
  }
  const std::string clut = input.substr(0, size % 41);
  for (const std::string* library_clut : {static_cast<const std::string*>(nullptr), &clut}) {
    const library_output got = library_convert(input, library_clut);
    const library_output expected = reference_library_convert(input, library_clut);
    if (got.result != expected.result || got.bytes != expected.bytes) std::abort();
  }
  return 0;
}
