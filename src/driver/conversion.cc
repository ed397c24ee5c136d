#include "conversion.h"

#include <cerrno>
#include <system_error>

#include "file_streams.h"
#include "messages.h"

namespace palfill {
namespace {

using role = file_conversion::role;

file_conversion file_failed(const std::string& line, role file, int error_number) {
  return file_conversion{1, line, -1, true, file, error_number};
}

// A read or a write that failed lies with the files; the rest with their bytes.
file_conversion ended(palfill_result result, const std::string& line, const stream_file& input,
                      const stream_file& output) {
  file_conversion done{result == PALFILL_FINISHED ? 0 : 1, line, result, false};
  if (result == PALFILL_READ_FAILED) done = file_failed(line, role::input, input.failure);
  if (result == PALFILL_WRITE_FAILED) done = file_failed(line, role::output, output.failure);
  done.result = result;
  return done;
}

std::shared_ptr<palfill_colours> new_colours() {
  return std::shared_ptr<palfill_colours>(palfill_colours_new(), palfill_colours_free);
}

// No memory for the colours: the command's one message for memory that is
// not to be had.
file_conversion no_memory_for_colours() {
  return file_conversion{1, chunk_too_large_line(), PALFILL_OUT_OF_MEMORY, false};
}

// Whether `output` may be created or replaced: it is none of the inputs,
// and, when it exists as a regular file, one that palfill could have
// written itself. Anything else ends the run before the output is touched.
std::optional<file_conversion> refuse_output(const command_argument& output,
                                             const file_identity& input,
                                             const colour_source& colours) {
  const file_identity existing = identify_path(output.path);
  if (same_file(existing, input) || (colours.clut && same_file(existing, colours.clut_identity))) {
    return file_failed(same_file_line(output.text), role::output, 0);
  }
  if (existing.type != file_identity::kind::regular) return std::nullopt;  // never opened here
  int reason = 0;
  switch (judge_existing_output(output.path, &reason)) {
    case existing_output::palfills:
      return std::nullopt;
    case existing_output::someones_data:
      return file_failed(not_png_output_line(output.text), role::output, 0);
    case existing_output::unreadable:
      break;
  }
  return file_failed(cant_open_line(output.text), role::output, reason);
}

}  // namespace

existing_output judge_existing_output(const native_path& output, int* error_number) {
  const int file = open_for_reading(output);
  unsigned char start[palfill_start_size];
  std::size_t size = 0;
  if (file == no_file || !read_from(file, start, sizeof start, &size)) {
    *error_number = errno;
    if (file != no_file) close_file(file);
    return existing_output::unreadable;
  }
  close_file(file);
  return begins_as_palfill_writes(start, size) ? existing_output::palfills
                                               : existing_output::someones_data;
}

bool make_folders(const native_path& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return identify_path(path).type == file_identity::kind::folder;
}

colour_source default_colours() {
  colour_source source;
  source.colours = new_colours();
  if (source.colours == nullptr) source.failure = no_memory_for_colours();
  return source;
}

colour_source load_clut_file(const command_argument& clut, const conversion_setup& setup) {
  colour_source source;
  source.clut = clut;
  if (auto own = reads_own_output(clut, role::clut, setup)) {
    source.failure = *own;
    return source;
  }
  source.colours = new_colours();
  if (source.colours == nullptr) {
    source.failure = no_memory_for_colours();
    return source;
  }
  stream_file file{open_for_reading(clut.path, &source.clut_identity)};
  if (file.file == no_file) {
    source.failure = file_failed(cant_open_line(clut.text), role::clut, errno);
    return source;
  }
  const palfill_reader reader = file_reader(file);
  const palfill_result result = palfill_load_clut_io(source.colours.get(), &reader);
  close_file(file.file);
  if (result == PALFILL_READ_FAILED) {
    source.failure = file_failed(cant_read_line(clut.text), role::clut, file.failure);
    source.failure->result = result;
  } else if (result != PALFILL_FINISHED) {
    source.failure =
        file_conversion{1, result_line(result, clut.text, clut.text, ""), result, false};
  }
  return source;
}

std::optional<file_conversion> reads_own_output(const command_argument& name, role file,
                                                const conversion_setup& setup) {
  if (setup.standard_output.type != file_identity::kind::pipe) return std::nullopt;
  if (!same_file(setup.standard_output, identify_path(name.path))) return std::nullopt;
  return file_failed(same_file_line(name.text), file, 0);
}

file_conversion convert_files(const command_argument& input, const colour_source& colours,
                              const command_argument& output, output_folders* folders) {
  if (colours.failure) return *colours.failure;
  file_identity input_identity;
  stream_file in{open_for_reading(input.path, &input_identity)};
  if (in.file == no_file) return file_failed(cant_open_line(input.text), role::input, errno);
  // Most outputs are new: one made where nothing was is none of the inputs
  // and no one's data, and it is a regular file.
  stream_file out{create_for_writing(output.path)};
  if (out.file == no_file && errno == ENOENT && folders != nullptr) {
    const native_path folder = output.path.parent_path();
    if (!folder.empty() && folder != folders->last && make_folders(folder)) {
      folders->last = folder;
      out.file = create_for_writing(output.path);
    }
  }
  bool can_cut = out.file != no_file;
  if (out.file == no_file) {
    // Checked before the output is opened: opening it would truncate the
    // input, the CLUT, or someone's file named as the output by mistake.
    if (auto refused = refuse_output(output, input_identity, colours)) {
      close_file(in.file);
      return *refused;
    }
    out.file = open_for_writing(output.path);
    if (out.file == no_file) {
      const int reason = errno;
      close_file(in.file);
      return file_failed(cant_open_line(output.text), role::output, reason);
    }
    can_cut = identify_open_file(out.file).type == file_identity::kind::regular;
  }
  // A regular file's size tells before any of a chunk is written whether
  // the file holds all of it; a pipe's bytes can only be counted as they
  // come. Only a regular file can be cut back.
  const palfill_reader reader = input_identity.type == file_identity::kind::regular
                                    ? file_reader(in, input_identity.size)
                                    : file_reader(in);
  const palfill_writer writer = file_writer(out, can_cut);
  palfill_result result = palfill_convert_io(colours.colours.get(), &reader, &writer);
  close_file(in.file);
  // Closing may still meet a write error the pass could not see.
  if (!close_file(out.file) && result == PALFILL_FINISHED) {
    out.failure = errno;
    result = PALFILL_WRITE_FAILED;
  }
  const std::string clut_text = colours.clut ? colours.clut->text : "";
  return ended(result, result_line(result, input.text, clut_text, output.text), in, out);
}

file_conversion convert_files(const command_argument& input, const command_argument* clut,
                              const command_argument& output) {
  const conversion_setup setup{identify_stdout()};
  if (auto own = reads_own_output(input, role::input, setup)) return *own;
  const colour_source colours = clut != nullptr ? load_clut_file(*clut, setup) : default_colours();
  return convert_files(input, colours, output, nullptr);
}

}  // namespace palfill
