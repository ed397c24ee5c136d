// The PNG pass and the CLUT reader written as plainly as possible: the
// whole input in memory, each chunk taken whole, each CLUT field read where
// it stands. The streaming core must agree with them on every input, in
// its output bytes, its table and its result.
#ifndef PALFILL_TESTS_REFERENCE_H_
#define PALFILL_TESTS_REFERENCE_H_

#include <string>

#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "palfill.h"
#include "png/chunk_pass.h"

struct reference_output {
  pass_result result;
  std::string bytes;
};

reference_output reference_convert(const std::string& input, const palette_table& table);

clut_result reference_load_clut(const std::string& clut, palette_table& table);

// The streaming pass run over memory, for comparing with the reference:
// the input as a file (length known) or a pipe, the output as a file (it
// can be cut back) or a pipe.
reference_output convert_in_memory(const std::string& input, const palette_table& table,
                                   bool length_known, bool can_cut, std::size_t block_size);

// What palfill_convert() must give for `png` with the CLUT file `clut`
// (null: the default colours alone), by the references above.
struct library_output {
  palfill_result result;
  std::string bytes;
};
library_output reference_library_convert(const std::string& png, const std::string* clut);

// palfill_convert() itself, on the same terms.
library_output library_convert(const std::string& png, const std::string* clut);

// Appends to `bytes`; `can_cut` false makes it behave as a pipe does.
byte_sink memory_sink(std::string& bytes, bool can_cut);

#endif  // PALFILL_TESTS_REFERENCE_H_
