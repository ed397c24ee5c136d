// The PNG pass. convert_png() copies a PNG stream from `in` to `out` chunk by
// chunk, byte for byte (lengths, types, data and CRCs, none checked), up to
// and including IEND; nothing after IEND is read. When the image is
// indexed-colour (colour type 3) with a bit depth of 8 or less and no PLTE
// has gone by when its first IDAT arrives, a PLTE of 2^bit_depth entries from
// the palette table is written right before that IDAT, followed by a tRNS
// when any of those entries is not opaque.
//
// A short read ends the process through die_unexpected_eof(), leaving what
// was written so far in `out`. Each chunk is held whole in a buffer of
// exactly its length + 4 bytes (data and CRC), taken only once the input is
// known to hold that many bytes or as the bytes actually arrive, so a
// damaged length field never costs more memory than the input supplies.
// The pass neither opens nor closes the streams.
#ifndef PALFILL_PNG_CHUNK_PASS_H_
#define PALFILL_PNG_CHUNK_PASS_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "palette/palette_table.h"

enum class pass_result {
  finished,         // IEND has been copied
  not_png,          // the signature differs; "Not a PNG format" is printed, nothing written
  write_failed,     // a write to `out` failed; the caller reports it
  chunk_too_large,  // a chunk's bytes could not be buffered; the caller reports it
};

pass_result convert_png(std::FILE* in, std::FILE* out, const palette_table& table);

// Writes the PLTE chunk of entries 0 to palette_size - 1 (palette_size at
// most 256) and, when one of them is not opaque, the tRNS chunk of all their
// alphas. Returns false when a write fails.
bool emit_palette_chunks(std::FILE* out, const palette_table& table, uint32_t palette_size);

// Big-endian 32-bit values, as every PNG length and CRC is stored.
bool put_be32(uint32_t value, std::FILE* out);
uint32_t get_be32(const uint8_t* bytes);

// The CRC-32 that PNG stores after each chunk, over its type and data bytes.
uint32_t chunk_crc(const uint8_t* data, std::size_t count);

#endif  // PALFILL_PNG_CHUNK_PASS_H_
