// Reads a CLUT (colour lookup table) file of data broadcasting into a
// palette, over the fixed default colours.
//
// Layout, multi-byte fields big-endian:
//   header  bit 7 colour model (1 R,G,B; 0 Y,Cb,Cr), bits 6-5 depth code
//           (0: 4-bit, 1: 8-bit, 2: 16-bit indexes, 3: invalid), bit 4
//           region flag, bit 3 range flag, bits 2-0 ignored
//   region  four 16-bit values, when flagged; read and ignored
//   range   start and end index, when flagged: one byte split in high and
//           low nibbles, two bytes, or two 16-bit values, by depth code;
//           otherwise 0 to 15, 255 or 65535
//   entries four bytes per index from start to end: three colour bytes, alpha
#ifndef PALFILL_PALETTE_CLUT_READER_H_
#define PALFILL_PALETTE_CLUT_READER_H_

#include <cstddef>
#include <cstdint>

#include "palette/palette_table.h"
#include "stream/byte_stream.h"

namespace palfill {

enum class clut_result {
  loaded,          // the whole range is stored (an end below the start stores nothing)
  unknown_depth,   // the depth code is invalid_clut_depth_code; nothing after the header is read
  unexpected_eof,  // the file ended inside the header, region, range or an entry
  not_a_clut,      // it begins with the PNG signature; nothing is stored
  read_failed,     // the source failed, whatever its bytes made of the file
};

constexpr int invalid_clut_depth_code = 3;

// Reads a CLUT file from `clut` and stores its entries into `entries`.
// Entries stored before a failure stay stored. A file that begins with the
// 8 bytes of the PNG signature is refused before anything is stored: it is
// an image named where the CLUT goes, and no CLUT begins that way.
// Indexes from `entry_count` on are read and checked but not stored.
//
// Bytes after the last entry are never asked for, with one exception: to
// tell a PNG from a CLUT, the first bytes are asked for one at a time for
// as long as each matches the PNG signature, up to all 8, even past a CLUT
// that is shorter. A CLUT that does not begin with 0x89 is therefore never
// read past its end.
clut_result load_clut(byte_source& clut, rgba_entry* entries, std::size_t entry_count);
inline clut_result load_clut(byte_source& clut, image_palette& palette) {
  return load_clut(clut, palette.data(), palette.size());
}

struct rgb_colour {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
};

// Studio-range BT.601 YCbCr to RGB in 16.16 fixed point, each channel
// rounded to nearest and clamped to 0-255.
rgb_colour ycbcr_to_rgb(uint8_t y, uint8_t cb, uint8_t cr);

}  // namespace palfill

#endif  // PALFILL_PALETTE_CLUT_READER_H_
