#include "palette/palette_table.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "full_palette.h"

using namespace palfill;

namespace {

bool same_colour(const rgba_entry& a, const rgba_entry& b) {
  return std::tie(a.red, a.green, a.blue, a.alpha) == std::tie(b.red, b.green, b.blue, b.alpha);
}

TEST(fixed_default_colours, match_the_broadcast_table) {
  const struct {
    int index;
    rgba_entry colour;
  } cells[] = {
      {0, {0, 0, 0, 255}},        {3, {255, 255, 0, 255}},    {7, {255, 255, 255, 255}},
      {8, {0, 0, 0, 0}},          {9, {170, 0, 0, 255}},      {15, {170, 170, 170, 255}},
      {16, {0, 0, 85, 255}},      {24, {0, 255, 170, 255}},   {41, {170, 0, 85, 255}},
      {53, {255, 0, 85, 255}},    {63, {255, 255, 85, 255}},  {64, {255, 255, 170, 255}},
      {65, {0, 0, 0, 128}},       {72, {255, 255, 255, 128}}, {73, {170, 0, 0, 128}},
      {79, {170, 170, 170, 128}}, {80, {0, 0, 85, 128}},      {127, {255, 255, 85, 128}},
  };
  for (const auto& cell : cells) {
    const rgba_entry& got = fixed_default_colours[cell.index];
    EXPECT_TRUE(same_colour(got, cell.colour))
        << "entry " << cell.index << " is " << int{got.red} << "," << int{got.green} << ","
        << int{got.blue} << "," << int{got.alpha};
  }
}

// Entries 0-64 hold each of the 64 four-level colours exactly once, plus
// the transparent entry 8; entries 65-127 repeat 0-63 without 8, half transparent.
TEST(fixed_default_colours, cover_every_level_combination_once) {
  std::set<std::tuple<int, int, int>> opaque_colours;
  for (int i = 0; i <= 64; ++i) {
    const rgba_entry& c = fixed_default_colours[i];
    if (i == 8) continue;
    EXPECT_EQ(c.alpha, 255) << i;
    for (int level : {c.red, c.green, c.blue}) EXPECT_EQ(level % 85, 0) << i;
    opaque_colours.insert({c.red, c.green, c.blue});
  }
  EXPECT_EQ(opaque_colours.size(), 64u);
  int source = 0;
  for (int i = 65; i < 128; ++i, ++source) {
    if (source == 8) ++source;
    rgba_entry expected = fixed_default_colours[source];
    expected.alpha = 128;
    EXPECT_TRUE(same_colour(fixed_default_colours[i], expected)) << i;
  }
}

TEST(seed_palette, keeps_nothing_from_before) {
  palette_table table;
  table.fill(rgba_entry{1, 2, 3, 4});
  seed_palette(table.data(), table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    const rgba_entry expected = i < 128 ? fixed_default_colours[i] : rgba_entry{0, 0, 0, 0};
    ASSERT_TRUE(same_colour(table[i], expected)) << i;
  }
}

}  // namespace
