#include "palette/palette_table.h"

#include <algorithm>

namespace palfill {
namespace {

constexpr uint8_t opaque = 255;
constexpr uint8_t half_transparent = 128;
constexpr uint8_t channel_levels[4] = {0, 85, 170, 255};

// Entries 0-7 (full intensity) and 9-15 (170) pick each channel by one bit
// of the number: bit 0 red, bit 1 green, bit 2 blue.
constexpr rgba_entry bit_colour(unsigned bits, uint8_t on) {
  return rgba_entry{(bits & 1u) ? on : uint8_t{0}, (bits & 2u) ? on : uint8_t{0},
                    (bits & 4u) ? on : uint8_t{0}, opaque};
}

// True when every channel level is 0 or `level`: those colours already sit
// among the eight-colour rows 0-7 or 8-15.
constexpr bool only_zero_or(unsigned r, unsigned g, unsigned b, unsigned level) {
  return (r == 0 || r == level) && (g == 0 || g == level) && (b == 0 || b == level);
}

constexpr std::array<rgba_entry, fixed_default_count> build_fixed_default_colours() {
  std::array<rgba_entry, fixed_default_count> colours{};
  std::size_t next = 0;
  for (unsigned bits = 0; bits < 8; ++bits) colours[next++] = bit_colour(bits, 255);
  colours[next++] = rgba_entry{0, 0, 0, 0};
  for (unsigned bits = 1; bits < 8; ++bits) colours[next++] = bit_colour(bits, 170);
  // Entries 16-64: the remaining level combinations, red most significant.
  for (unsigned r = 0; r < 4; ++r) {
    for (unsigned g = 0; g < 4; ++g) {
      for (unsigned b = 0; b < 4; ++b) {
        if (only_zero_or(r, g, b, 3) || only_zero_or(r, g, b, 2)) continue;
        colours[next++] =
            rgba_entry{channel_levels[r], channel_levels[g], channel_levels[b], opaque};
      }
    }
  }
  // Entries 65-127: half-transparent copies of 0-63, except the transparent
  // entry 8, which has none (and 64, which falls outside the range).
  for (std::size_t source = 0; source < 64; ++source) {
    if (source == 8) continue;
    colours[next] = colours[source];
    colours[next++].alpha = half_transparent;
  }
  return colours;
}

// Built at compile time: an overrun of the 128 slots fails the build.
constexpr std::array<rgba_entry, fixed_default_count> built_default_colours =
    build_fixed_default_colours();
static_assert(built_default_colours[127].alpha == half_transparent, "rule fills all 128");

}  // namespace

const std::array<rgba_entry, fixed_default_count> fixed_default_colours = built_default_colours;

void seed_palette(rgba_entry* entries, std::size_t count) {
  std::fill(entries, entries + count, rgba_entry{0, 0, 0, 0});
  std::copy_n(fixed_default_colours.begin(), std::min(count, fixed_default_count), entries);
}

void seed_image_palette(image_palette& palette) {
  seed_palette(palette.data(), palette.size());
}

}  // namespace palfill
