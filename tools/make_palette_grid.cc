// Writes a palette-less 8-bit index image of indexes 0-127 as a 16 x 8 grid
// of 32-pixel swatches, each with its index written on it, for palfill to
// turn into a picture of a palette:
//   make_palette_grid OUT.png [CLUT]
// The digits of each swatch use whichever entry of the palette (the
// default colours, or those with the CLUT applied) contrasts most with it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "png_builder.h"

using namespace palfill;

namespace {

constexpr uint32_t swatch = 32, columns = 16, rows = 8;

// 3 x 5 digits, one row of three bits per number, top row first.
constexpr uint16_t digit_rows[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

int brightness(const rgba_entry& c) {
  // Transparent entries show the page behind them, taken here as white.
  return c.alpha == 0 ? 255 * 7 : c.red * 2 + c.green * 4 + c.blue;
}

uint32_t contrasting_index(const image_palette& table, uint32_t index) {
  uint32_t best = 0;
  int best_gap = -1;
  for (uint32_t candidate = 0; candidate < columns * rows; ++candidate) {
    if (table[candidate].alpha != 255) continue;
    const int gap = std::abs(brightness(table[candidate]) - brightness(table[index]));
    if (gap > best_gap) best = candidate, best_gap = gap;
  }
  return best;
}

// True where the index's digits, drawn 2x at (6, 11) in its swatch, cover (x, y).
bool on_digit(uint32_t index, uint32_t x, uint32_t y) {
  const std::string text = std::to_string(index);
  if (x < 6 || y < 11 || y >= 21) return false;
  const uint32_t cell = (x - 6) / 8, column = (x - 6) % 8 / 2;
  if (cell >= text.size() || column >= 3) return false;
  return (digit_rows[text[cell] - '0'][(y - 11) / 2] >> (2 - column)) & 1;
}

bool apply_clut(const char* path, image_palette& table) {
  const std::string clut = read_file(path);
  memory_input input{reinterpret_cast<const uint8_t*>(clut.data()), clut.size(), 0};
  byte_source source = memory_source(input, true);
  const bool loaded = load_clut(source, table) == clut_result::loaded;
  if (!loaded) std::printf("Error : Can't read the CLUT file %s\n", path);
  return loaded;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::printf("Usage : %s out.png [in.clt]\n", argv[0]);
    return 1;
  }
  image_palette table;
  seed_image_palette(table);
  if (argc == 3 && !apply_clut(argv[2], table)) return 1;
  const auto index_at = [&](uint32_t x, uint32_t y) {
    const uint32_t index = y / swatch * columns + x / swatch;
    return on_digit(index, x % swatch, y % swatch) ? contrasting_index(table, index) : index;
  };
  if (!write_file(argv[1], indexed_png(swatch * columns, swatch * rows, 8, index_at, 4))) {
    std::printf("Error : Can't write file %s\n", argv[1]);
    return 1;
  }
  return 0;
}
