// The PNG pass. convert_png() copies a PNG stream from `in` to `out` chunk by
// chunk, byte for byte (lengths, types, data and CRCs, none checked), up to
// and including IEND; nothing after IEND is copied. When the image is
// indexed-colour (colour type 3) with a bit depth of 8 or less and no PLTE
// has gone by when its first IDAT arrives, a PLTE of 2^bit_depth entries from
// the palette is written right before that IDAT, followed by a tRNS
// when any of those entries is not opaque.
//
// The pass returns what happened and leaves in `out` what it wrote up to
// then. When the input ends inside a chunk, `out` ends with that chunk's 8
// header bytes and none of its data: the pass checks a source of known
// length before copying a chunk's data, cuts a sink back when the data it
// already wrote turns out short, and, when the source's length is unknown
// and the sink cannot cut, holds the chunk until all of it has arrived (the
// only case in which memory grows with a chunk, and only as its bytes
// arrive). Otherwise memory stays at one block of `block_size` bytes, read
// from `in` and written to `out` from the same place, consecutive chunks in
// one write.
//
// Nothing here opens, closes or prints; the caller reports the result.
#ifndef PALFILL_PNG_CHUNK_PASS_H_
#define PALFILL_PNG_CHUNK_PASS_H_

#include <cstddef>
#include <cstdint>

#include "palette/palette_table.h"
#include "stream/byte_stream.h"

namespace palfill {

enum class pass_result {
  finished,        // IEND has been copied
  not_png,         // the signature differs; nothing is written
  unexpected_eof,  // the input ended before IEND
  write_failed,    // `out` did not take the bytes, or could not be cut back
  out_of_memory,   // the first block, or a chunk that has to be held, did not fit
  read_failed,     // `in` failed; `out` holds what its bytes gave, as far as they went
};

constexpr std::size_t default_block_size = std::size_t{256} << 10;

// `palette` holds at least image_palette_entries entries.
pass_result convert_png(byte_source& in, byte_sink& out, const rgba_entry* palette,
                        std::size_t block_size = default_block_size);

// The most bytes emit_palette_chunks() writes: PLTE and tRNS of 256 entries.
constexpr std::size_t max_palette_chunks_size = (12 + 3 * 256) + (12 + 256);

// Writes into `dest` the PLTE chunk of entries 0 to palette_size - 1
// (palette_size at most 256) and, when one of them is not opaque, the tRNS
// chunk of all their alphas. Returns the number of bytes written.
std::size_t emit_palette_chunks(const rgba_entry* palette, uint32_t palette_size, uint8_t* dest);

}  // namespace palfill

#endif  // PALFILL_PNG_CHUNK_PASS_H_
