// The PNG pass written as plainly as possible: the whole input in memory,
// each chunk taken whole. The streaming pass must agree with it on every
// input, in its output bytes and its result.
#ifndef PALFILL_TESTS_REFERENCE_PASS_H_
#define PALFILL_TESTS_REFERENCE_PASS_H_

#include <string>

#include "palette/palette_table.h"
#include "png/chunk_pass.h"

struct reference_output {
  pass_result result;
  std::string bytes;
};

reference_output reference_convert(const std::string& input, const palette_table& table);

#endif  // PALFILL_TESTS_REFERENCE_PASS_H_
