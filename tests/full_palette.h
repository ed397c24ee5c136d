// The whole table of colours that a CLUT file can address: 65,536 entries,
// one per 16-bit index. The library keeps only the 256 an image can use;
// the references, the tests and the fuzz targets keep them all, so that
// every entry a CLUT sets can be compared.
#ifndef PALFILL_TESTS_FULL_PALETTE_H_
#define PALFILL_TESTS_FULL_PALETTE_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "png/chunk_pass.h"
#include "stream/byte_stream.h"

using palette_table = std::array<palfill::rgba_entry, 65536>;

inline void seed_palette_table(palette_table& table) {
  palfill::seed_palette(table.data(), table.size());
}

inline palfill::clut_result load_clut(palfill::byte_source& clut, palette_table& table) {
  return palfill::load_clut(clut, table.data(), table.size());
}

inline palfill::pass_result convert_png(palfill::byte_source& in, palfill::byte_sink& out,
                                        const palette_table& table,
                                        std::size_t block_size = palfill::default_block_size) {
  return palfill::convert_png(in, out, table.data(), block_size);
}

inline std::size_t emit_palette_chunks(const palette_table& table, uint32_t palette_size,
                                       uint8_t* dest) {
  return palfill::emit_palette_chunks(table.data(), palette_size, dest);
}

#endif  // PALFILL_TESTS_FULL_PALETTE_H_
