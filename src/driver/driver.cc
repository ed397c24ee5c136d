#include "driver/driver.h"

#include <cstdio>

#include "driver/files.h"
#include "driver/messages.h"
#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "png/chunk_pass.h"
#include "stream/byte_stream.h"

namespace {

struct run_arguments {
  const command_argument* input;
  const command_argument* clut;  // null when none is named
  const command_argument* output;
};

// Positional roles: two arguments are input and output; with three or
// more the second is the CLUT and anything past the third is ignored.
run_arguments assign_roles(const std::vector<command_argument>& args) {
  if (args.size() == 3) return run_arguments{&args[1], nullptr, &args[2]};
  return run_arguments{&args[1], &args[2], &args[3]};
}

bool output_would_destroy_an_input(const run_arguments& args) {
  return same_file(args.output->path, args.input->path) ||
         (args.clut != nullptr && same_file(args.output->path, args.clut->path));
}

// Reports its own failure.
bool apply_clut(const command_argument& clut, palette_table& table) {
  std::FILE* file = open_for_reading(clut.path);
  if (file == nullptr) {
    print_cant_open(clut.text);
    return false;
  }
  byte_source source = file_source(file);
  const clut_result result = load_clut(source, table);
  std::fclose(file);
  if (result == clut_result::unknown_depth) print_unknown_depth(invalid_clut_depth_code);
  if (result == clut_result::unexpected_eof) print_unexpected_eof();
  if (result == clut_result::not_a_clut) print_not_a_clut(clut.text);
  return result == clut_result::loaded;
}

// A regular file's size tells before any of a chunk is written whether the
// file holds all of it; a pipe's bytes can only be counted as they come.
byte_source png_source(std::FILE* in, const std::filesystem::path& path) {
  uint64_t size = 0;
  return regular_file_size(path, size) ? file_source(in, size) : file_source(in);
}

int report_pass(pass_result result, bool output_complete, const run_arguments& args) {
  switch (result) {
    case pass_result::finished:
      if (!output_complete) break;
      print_finished(args.input->text, args.output->text);
      return 0;
    case pass_result::not_png:
      print_not_png();
      return 1;
    case pass_result::unexpected_eof:
      print_unexpected_eof();
      return 1;
    case pass_result::chunk_too_large:
      print_chunk_too_large();
      return 1;
    case pass_result::write_failed:
      break;
  }
  print_cant_write(args.output->text);
  return 1;
}

}  // namespace

int run_palfill(const std::vector<command_argument>& args) {
  if (args.size() < 3) {
    print_usage(args.empty() ? "palfill" : args[0].text);
    return 1;
  }
  const run_arguments roles = assign_roles(args);

  const owned_palette_table owned_table = new_seeded_palette_table();
  if (owned_table == nullptr) {
    print_chunk_too_large();  // the one message for memory that is not to be had
    return 1;
  }
  palette_table& table = *owned_table;
  if (roles.clut != nullptr && !apply_clut(*roles.clut, table)) return 1;

  std::FILE* in = open_for_reading(roles.input->path);
  if (in == nullptr) {
    print_cant_open(roles.input->text);
    return 1;
  }
  // Checked before the output is created: creating it would truncate the input.
  if (output_would_destroy_an_input(roles)) {
    print_same_file(roles.output->text);
    std::fclose(in);
    return 1;
  }
  std::FILE* out = open_for_writing(roles.output->path);
  if (out == nullptr) {
    print_cant_open(roles.output->text);
    std::fclose(in);
    return 1;
  }
  // The pass reads and writes in blocks of its own; stream buffers would
  // only copy every byte once more.
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(out, nullptr, _IONBF, 0);
  byte_source source = png_source(in, roles.input->path);
  cuttable_file out_file{out, roles.output->path};
  byte_sink sink = names_regular_file(roles.output->path) ? file_sink(out_file) : file_sink(out);
  const pass_result result = convert_png(source, sink, table);
  std::fclose(in);
  // Closing may still meet a write error the pass could not see.
  const bool output_complete = std::fclose(out) == 0;
  move_stdout_past_output(roles.output->path);
  return report_pass(result, output_complete, roles);
}
