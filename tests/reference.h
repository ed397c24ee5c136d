// The PNG pass and the CLUT reader written as plainly as possible: the
// whole input in memory, each chunk taken whole, each CLUT field read where
// it stands. The streaming core must agree with them on every input, in
// its output bytes, its table and its result.
#ifndef PALFILL_TESTS_REFERENCE_H_
#define PALFILL_TESTS_REFERENCE_H_

#include <string>

#include "full_palette.h"
#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "palfill.h"
#include "png/chunk_pass.h"

struct reference_output {
  palfill::pass_result result;
  std::string bytes;
};

reference_output reference_convert(const std::string& input, const palette_table& table);

// `asked`, when given, gets how many bytes the reader may ask for: up to
// the last entry, or the signature's look-ahead when that goes further.
palfill::clut_result reference_load_clut(const std::string& clut, palette_table& table,
                                         std::size_t* asked = nullptr);

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

// The ways into the library, each of which must give what the reference
// gives: palfill_convert(); palfill_convert_into() with a buffer of the
// exact size, after asking for it with one a byte too small; the 1.1
// streams (a file: length known, cut back); the 1.2 readers and writers as
// a file and as a pipe (length unknown, no cut); and the same pipe with
// readers that fail at their end instead of ending, which must give
// PALFILL_READ_FAILED wherever they reach it (a PNG always does, through a
// pipe). A reader that fails is never to be called again.
enum class library_route { convert, convert_into, stream, io_file, io_pipe, io_failing };
constexpr library_route library_routes[] = {library_route::convert, library_route::convert_into,
                                            library_route::stream,  library_route::io_file,
                                            library_route::io_pipe, library_route::io_failing};

library_output library_convert(const std::string& png, const std::string* clut,
                               library_route route = library_route::convert);

// What `route` must give, by the references.
library_output reference_library_convert(const std::string& png, const std::string* clut,
                                         library_route route);

// 1.2 readers and writers over memory, for calling the library directly:
// a reader of `bytes` from `pos` on, its length unknown (set it to make it
// a file), and a writer that appends to `out`.
struct memory_reader {
  const std::string* bytes;
  std::size_t pos;
  bool fail_at_end;      // fail instead of ending
  int fail_on_call = 0;  // fail on this call (from 1), whatever it gives
  int calls = 0;
  bool failed = false;
  bool called_after_failing = false;  // the library broke its word
};
palfill_reader pipe_reader(memory_reader& from);
palfill_writer string_writer(std::string& out, bool can_cut);

// Appends to `bytes`; `can_cut` false makes it behave as a pipe does.
palfill::byte_sink memory_sink(std::string& bytes, bool can_cut);

#endif  // PALFILL_TESTS_REFERENCE_H_
