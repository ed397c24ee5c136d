#include "driver/driver.h"

#include <cstdio>
#include <memory>

#include "driver/file_streams.h"
#include "driver/files.h"
#include "driver/messages.h"
#include "palfill.h"

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
bool apply_clut(const command_argument& clut, palfill_colours& colours) {
  std::FILE* file = open_for_reading(clut.path);
  if (file == nullptr) {
    print_cant_open(clut.text);
    return false;
  }
  const palfill_reader reader = file_reader(file);
  const palfill_result result = palfill_load_clut_io(&colours, &reader);
  std::fclose(file);
  if (result == PALFILL_UNKNOWN_DEPTH) print_unknown_depth(3);
  if (result == PALFILL_CLUT_UNEXPECTED_EOF) print_unexpected_eof();
  if (result == PALFILL_NOT_A_CLUT) print_not_a_clut(clut.text);
  if (result == PALFILL_READ_FAILED) print_cant_read(clut.text);
  return result == PALFILL_FINISHED;
}

// A regular file's size tells before any of a chunk is written whether the
// file holds all of it; a pipe's bytes can only be counted as they come.
palfill_reader png_reader(std::FILE* in, const std::filesystem::path& path) {
  uint64_t size = 0;
  return regular_file_size(path, size) ? file_reader(in, size) : file_reader(in);
}

int report_pass(palfill_result result, bool output_complete, const run_arguments& args) {
  if (result == PALFILL_FINISHED && output_complete) {
    print_finished(args.input->text, args.output->text);
    return 0;
  }
  if (result == PALFILL_NOT_PNG) print_not_png();
  if (result == PALFILL_UNEXPECTED_EOF) print_unexpected_eof();
  if (result == PALFILL_OUT_OF_MEMORY) print_chunk_too_large();
  if (result == PALFILL_READ_FAILED) print_cant_read(args.input->text);
  // What the pass wrote did not all reach the file.
  if (result == PALFILL_FINISHED || result == PALFILL_WRITE_FAILED) {
    print_cant_write(args.output->text);
  }
  return 1;
}

using owned_colours = std::unique_ptr<palfill_colours, void (*)(palfill_colours*)>;

}  // namespace

int run_palfill(const std::vector<command_argument>& args) {
  if (args.size() < 3) {
    print_usage(args.empty() ? "palfill" : args[0].text);
    return 1;
  }
  const run_arguments roles = assign_roles(args);

  const owned_colours colours(palfill_colours_new(), palfill_colours_free);
  if (colours == nullptr) {
    print_chunk_too_large();  // the one message for memory that is not to be had
    return 1;
  }
  if (roles.clut != nullptr && !apply_clut(*roles.clut, *colours)) return 1;

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
  const palfill_reader reader = png_reader(in, roles.input->path);
  cuttable_file out_file{out, roles.output->path};
  const palfill_writer writer =
      names_regular_file(roles.output->path) ? file_writer(out_file) : file_writer(out);
  const palfill_result result = palfill_convert_io(colours.get(), &reader, &writer);
  std::fclose(in);
  // Closing may still meet a write error the pass could not see.
  const bool output_complete = std::fclose(out) == 0;
  move_stdout_past_output(roles.output->path);
  return report_pass(result, output_complete, roles);
}
