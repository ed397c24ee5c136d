#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <new>

#include "driver/files.h"
#include "driver/messages.h"
#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "png/chunk_pass.h"

namespace {

struct run_arguments {
  const char* input;
  const char* clut;  // null when none is named
  const char* output;
};

// Positional roles: two arguments are input and output; with three or
// more the second is the CLUT and anything past the third is ignored.
run_arguments assign_roles(int argc, char** argv) {
  if (argc == 3) return run_arguments{argv[1], nullptr, argv[2]};
  return run_arguments{argv[1], argv[2], argv[3]};
}

bool output_would_destroy_an_input(const run_arguments& args) {
  return same_file(args.output, args.input) ||
         (args.clut != nullptr && same_file(args.output, args.clut));
}

// Stream buffers large enough that small chunks cost one read and one write
// per 256 KiB instead of one or two each; larger ones gained nothing in
// bench/run, and every byte here adds to the peak memory.
constexpr std::size_t stream_buffer_size = std::size_t{256} << 10;

// The buffer must outlive the stream, and the stream may still be flushed
// by process exit: the caller keeps it until after it closes the stream.
// Without the memory the stream keeps its default buffer.
std::unique_ptr<char[]> give_stream_buffer(std::FILE* stream) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[stream_buffer_size]);
  if (buffer != nullptr) std::setvbuf(stream, buffer.get(), _IOFBF, stream_buffer_size);
  return buffer;
}

int report_pass_failure(pass_result result, const char* output_path) {
  if (result == pass_result::write_failed) print_cant_write(output_path);
  if (result == pass_result::chunk_too_large) print_chunk_too_large();
  return 1;
}

}  // namespace

int run_palfill(int argc, char** argv) {
  if (argc < 3) {
    print_usage(argc > 0 ? argv[0] : "palfill");
    return 1;
  }
  const run_arguments args = assign_roles(argc, argv);

  palette_table table;
  seed_palette_table(table);
  if (args.clut != nullptr && !load_clut(args.clut, table)) return 1;

  std::FILE* in = open_for_reading(args.input);
  if (in == nullptr) {
    print_cant_open(args.input);
    return 1;
  }
  // Checked before the output is created: creating it would truncate the input.
  if (output_would_destroy_an_input(args)) {
    print_same_file(args.output);
    std::fclose(in);
    return 1;
  }
  std::FILE* out = std::fopen(args.output, "wb");
  if (out == nullptr) {
    print_cant_open(args.output);
    std::fclose(in);
    return 1;
  }

  const std::unique_ptr<char[]> in_buffer = give_stream_buffer(in);
  const std::unique_ptr<char[]> out_buffer = give_stream_buffer(out);
  const pass_result result = convert_png(in, out, table);
  std::fclose(in);
  // Closing flushes the last buffered bytes, so a full disk may only show here.
  const bool output_complete = std::fclose(out) == 0;
  if (result != pass_result::finished) return report_pass_failure(result, args.output);
  if (!output_complete) {
    print_cant_write(args.output);
    return 1;
  }
  print_finished(args.input, args.output);
  return 0;
}
