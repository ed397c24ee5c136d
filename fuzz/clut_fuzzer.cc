// libFuzzer target for the CLUT reader, run in process: for any bytes,
// load_clut() leaves the table and gives the result that the field-by-field
// reference does, and the PNG pass then builds its palette from that table
// as the reference pass does.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "full_palette.h"
#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "png/chunk_pass.h"
#include "png_builder.h"
#include "reference.h"
#include "stream/byte_stream.h"

using namespace palfill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string clut(reinterpret_cast<const char*>(data), size);
  static palette_table streamed, reference;
  seed_palette_table(streamed);
  seed_palette_table(reference);
  memory_input input{data, size, 0};
  byte_source source = memory_source(input, false);
  const clut_result result = load_clut(source, streamed);
  if (result != reference_load_clut(clut, reference)) std::abort();
  if (std::memcmp(streamed.data(), reference.data(), sizeof streamed) != 0) std::abort();
  if (result != clut_result::loaded) return 0;

  // An 8-bit image of 256 indexes: its palette is the first 256 entries.
  const std::string png = png_signature_bytes() + png_chunk("IHDR", ihdr_data(16, 16, 8, 3)) +
                          png_chunk("IDAT", zlib_stored(std::string(16 * 17, '\0'))) +
                          png_chunk("IEND", "");
  memory_input png_input{reinterpret_cast<const uint8_t*>(png.data()), png.size(), 0};
  byte_source png_source = memory_source(png_input, true);
  std::string out;
  byte_sink sink = memory_sink(out, true);
  if (convert_png(png_source, sink, streamed) != pass_result::finished) std::abort();
  if (out != reference_convert(png, reference).bytes) std::abort();
  return 0;
}
