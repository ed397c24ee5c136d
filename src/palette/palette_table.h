// The colours a conversion takes. A palette is indexed by palette index:
// seeded with the 128 fixed default colours of data broadcasting in
// entries 0-127 and transparent black everywhere above, then overwritten
// by whatever range a CLUT file sets. An image indexes at most 256 entries,
// so an image_palette holds just those: everything that can reach an
// output. A CLUT file may address 16-bit indexes; entries past the
// palette's end are read and checked but not kept.
#ifndef PALFILL_PALETTE_PALETTE_TABLE_H_
#define PALFILL_PALETTE_PALETTE_TABLE_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace palfill {

struct rgba_entry {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t alpha;  // 255 opaque, 0 fully transparent
};

constexpr std::size_t fixed_default_count = 128;

// The 128 colours a broadcast receiver uses when no CLUT is sent.
extern const std::array<rgba_entry, fixed_default_count> fixed_default_colours;

constexpr std::size_t image_palette_entries = 256;
using image_palette = std::array<rgba_entry, image_palette_entries>;

// Zeroes `count` entries, then puts the default colours into the first 128.
void seed_palette(rgba_entry* entries, std::size_t count);
void seed_image_palette(image_palette& palette);

}  // namespace palfill

#endif  // PALFILL_PALETTE_PALETTE_TABLE_H_
