#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <optional>

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

file_conversion file_failed(const std::string& line) {
  return file_conversion{1, line, -1, true};
}

// A read or a write that failed lies with the files; the rest with their bytes.
file_conversion ended(palfill_result result, const std::string& line) {
  const bool file_failure = result == PALFILL_READ_FAILED || result == PALFILL_WRITE_FAILED;
  return file_conversion{result == PALFILL_FINISHED ? 0 : 1, line, result, file_failure};
}

// Empty when the CLUT loaded; otherwise how the run ends.
std::optional<file_conversion> apply_clut(const command_argument& clut, palfill_colours& colours) {
  std::FILE* file = open_for_reading(clut.path);
  if (file == nullptr) return file_failed(cant_open_line(clut.text));
  const palfill_reader reader = file_reader(file);
  const palfill_result result = palfill_load_clut_io(&colours, &reader);
  std::fclose(file);
  if (result == PALFILL_FINISHED) return std::nullopt;
  return ended(result, result_line(result, clut.text, clut.text, ""));
}

// A regular file's size tells before any of a chunk is written whether the
// file holds all of it; a pipe's bytes can only be counted as they come.
palfill_reader png_reader(std::FILE* in, const std::filesystem::path& path) {
  uint64_t size = 0;
  return regular_file_size(path, size) ? file_reader(in, size) : file_reader(in);
}

using owned_colours = std::unique_ptr<palfill_colours, void (*)(palfill_colours*)>;

// Where the line goes. Standard output may lead into a file palfill reads
// or writes: the line then never goes into the input, the CLUT or an
// output that was refused, and into the output only after what is there.
void print_where_it_belongs(const std::string& line, const run_arguments& roles) {
  const file_identity out = identify_stdout();
  if (out.type == file_identity::kind::regular) {
    if (same_file(out, identify_path(roles.input->path))) return;
    if (roles.clut != nullptr && same_file(out, identify_path(roles.clut->path))) return;
    if (same_file(out, identify_path(roles.output->path))) {
      if (!may_replace_output(roles.output->path)) return;
      move_stdout_to_end();
    }
  }
  print_line(line);
}

// The input or the CLUT that names standard output when it is a pipe:
// reading it would wait for palfill's own output, for ever.
const command_argument* reads_own_stdout(const run_arguments& roles) {
  const file_identity out = identify_stdout();
  if (out.type != file_identity::kind::pipe) return nullptr;
  if (same_file(out, identify_path(roles.input->path))) return roles.input;
  if (roles.clut != nullptr && same_file(out, identify_path(roles.clut->path))) return roles.clut;
  return nullptr;
}

}  // namespace

std::string result_line(palfill_result result, const std::string& reading, const std::string& clut,
                        const std::string& output) {
  switch (result) {
    case PALFILL_FINISHED:
      return finished_line(reading, output);
    case PALFILL_NOT_PNG:
      return not_png_line();
    case PALFILL_UNEXPECTED_EOF:
    case PALFILL_CLUT_UNEXPECTED_EOF:
      return unexpected_eof_line();
    case PALFILL_UNKNOWN_DEPTH:
      return unknown_depth_line(3);
    case PALFILL_NOT_A_CLUT:
      return not_a_clut_line(clut);
    case PALFILL_OUT_OF_MEMORY:
      return chunk_too_large_line();
    case PALFILL_READ_FAILED:
      return cant_read_line(reading);
    default:  // what the pass wrote did not all reach the output
      return cant_write_line(output);
  }
}

file_conversion convert_files(const command_argument& input, const command_argument* clut,
                              const command_argument& output) {
  const owned_colours colours(palfill_colours_new(), palfill_colours_free);
  if (colours == nullptr) {
    // The one message for memory that is not to be had.
    return ended(PALFILL_OUT_OF_MEMORY, chunk_too_large_line());
  }
  if (clut != nullptr) {
    if (const auto failed = apply_clut(*clut, *colours)) return *failed;
  }

  std::FILE* in = open_for_reading(input.path);
  if (in == nullptr) return file_failed(cant_open_line(input.text));
  // Checked before the output is created: creating it would truncate the
  // input, the CLUT, or someone's file named as the output by mistake.
  if (same_file(output.path, input.path) ||
      (clut != nullptr && same_file(output.path, clut->path))) {
    std::fclose(in);
    return file_failed(same_file_line(output.text));
  }
  if (!may_replace_output(output.path)) {
    std::fclose(in);
    return file_failed(not_png_output_line(output.text));
  }
  std::FILE* out = open_for_writing(output.path);
  if (out == nullptr) {
    std::fclose(in);
    return file_failed(cant_open_line(output.text));
  }
  // The pass reads and writes in blocks of its own; stream buffers would
  // only copy every byte once more.
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(out, nullptr, _IONBF, 0);
  const palfill_reader reader = png_reader(in, input.path);
  cuttable_file out_file{out, output.path};
  const palfill_writer writer =
      names_regular_file(output.path) ? file_writer(out_file) : file_writer(out);
  palfill_result result = palfill_convert_io(colours.get(), &reader, &writer);
  std::fclose(in);
  // Closing may still meet a write error the pass could not see.
  if (std::fclose(out) != 0 && result == PALFILL_FINISHED) result = PALFILL_WRITE_FAILED;
  return ended(result,
               result_line(result, input.text, clut != nullptr ? clut->text : "", output.text));
}

int run_palfill(const std::vector<command_argument>& args) {
  if (args.size() < 3) {
    print_line(usage_line(args.empty() ? "palfill" : args[0].text));
    return 1;
  }
  const run_arguments roles = assign_roles(args);
  if (const command_argument* own_stdout = reads_own_stdout(roles)) {
    print_line(same_file_line(own_stdout->text));
    return 1;
  }
  const file_conversion done = convert_files(*roles.input, roles.clut, *roles.output);
  print_where_it_belongs(done.line, roles);
  return done.status;
}
