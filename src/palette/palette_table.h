// The run's colour table: 65,536 RGBA entries indexed by a 16-bit palette
// index. seed_palette_table() zeroes every entry and puts the 128 fixed
// default colours of data broadcasting into entries 0-127; a CLUT file may
// then overwrite any range of it; the PNG pass reads at most the first 256.
// Those 256 are all an image can use, so an image_palette holds just them:
// everything that reaches an output, for a thousandth of the memory.
#ifndef PALFILL_PALETTE_PALETTE_TABLE_H_
#define PALFILL_PALETTE_PALETTE_TABLE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

struct rgba_entry {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t alpha;  // 255 opaque, 0 fully transparent
};

constexpr std::size_t palette_table_entries = 65536;
constexpr std::size_t fixed_default_count = 128;

using palette_table = std::array<rgba_entry, palette_table_entries>;

// The 128 colours a broadcast receiver uses when no CLUT is sent.
extern const std::array<rgba_entry, fixed_default_count> fixed_default_colours;

constexpr std::size_t image_palette_entries = 256;
using image_palette = std::array<rgba_entry, image_palette_entries>;

// Zeroes `count` entries, then puts the default colours into the first 128.
void seed_palette(rgba_entry* entries, std::size_t count);
void seed_palette_table(palette_table& table);
void seed_image_palette(image_palette& palette);

// A table as seed_palette_table() leaves it, in memory of its own that
// starts out zeroed, so that only the default colours are written: pages
// of the table that a run never touches then cost it nothing. Null when
// the memory is not to be had.
using owned_palette_table = std::unique_ptr<palette_table, void (*)(palette_table*)>;
owned_palette_table new_seeded_palette_table();

#endif  // PALFILL_PALETTE_PALETTE_TABLE_H_
