#include "conversion.h"

#include <cerrno>

#include "file_streams.h"
#include "messages/messages.h"

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

file_conversion no_memory_for_colours() {
  return file_conversion{1, out_of_memory_line(), PALFILL_OUT_OF_MEMORY, false};
}

// Opens a file to read, as palfill-tree reads when `setup` says so:
// anything but a regular file fails without being read.
std::optional<file_conversion> open_to_read(const command_argument& name, role file,
                                            const conversion_setup& setup, stream_file& opened,
                                            file_identity& identity) {
  const read_mode mode = setup.regular_files_only ? read_mode::never_block : read_mode::wait;
  const env_status status = setup.files->open_for_reading(name.path, mode, &opened.file, &identity);
  if (!status.ok()) return file_failed(cant_open_line(name.text), file, status.error);
  if (setup.regular_files_only && identity.type != file_identity::kind::regular) {
    setup.files->close(opened.file);
    return file_failed(not_regular_file_line(name.text), file, 0);
  }
  return std::nullopt;
}

// Whether `output` may be created or replaced: it is none of the inputs,
// and, when it exists as a regular file, one that palfill could have
// written itself. Anything else ends the run before the output is touched.
std::optional<file_conversion> refuse_output(const command_argument& output,
                                             const file_identity& input,
                                             const colour_source& colours,
                                             const conversion_setup& setup, bool tree) {
  if (tree && setup.files->identify_unfollowed(output.path).type == file_identity::kind::link) {
    return file_failed(output_through_link_line(output.text), role::output, 0);
  }
  const file_identity existing = setup.files->identify(output.path);
  if (same_file(existing, input) || (colours.clut && same_file(existing, colours.clut_identity))) {
    return file_failed(same_file_line(output.text), role::output, 0);
  }
  if (existing.type != file_identity::kind::regular) {
    // A pipe or a device in OUT_DIR would hold palfill-tree, or take what
    // no file keeps; palfill writes into one when it is named.
    if (!tree || existing.type == file_identity::kind::none) return std::nullopt;
    return file_failed(not_regular_file_line(output.text), role::output, 0);
  }
  int reason = 0;
  switch (judge_existing_output(output.path, setup, &reason)) {
    case existing_output::palfill_may_replace:
      return std::nullopt;
    case existing_output::someones_data:
      return file_failed(not_png_output_line(output.text), role::output, 0);
    case existing_output::unreadable:
      break;
  }
  return file_failed(cant_open_line(output.text), role::output, reason);
}

// Makes `path` a folder, with the folders above it, links followed.
env_status make_folders(const file_system& files, const native_path& path) {
  if (files.identify(path).type == file_identity::kind::folder) return {};
  const native_path parent = path.parent_path();
  if (!parent.empty() && parent != path) {
    const env_status above = make_folders(files, parent);
    if (!above.ok()) return above;
  }
  const env_status made = files.make_folder(path);
  return made.ok() || files.identify(path).type == file_identity::kind::folder ? env_status{}
                                                                               : made;
}

// Checks, and makes where missing, each folder from OUT_DIR down to
// `output`'s own: a link or the input folder on the way fails the output.
std::optional<file_conversion> fit_output_folder(const command_argument& output,
                                                 const file_identity& input,
                                                 const conversion_setup& setup, output_tree& tree) {
  if (!tree.out_dir_made) {  // OUT_DIR itself may be a link, or not there yet
    const env_status made = make_folders(*setup.files, tree.out_dir.path);
    if (!made.ok()) return file_failed(cant_open_line(output.text), role::output, made.error);
    tree.out_dir_is_in_dir = same_file(setup.files->identify(tree.out_dir.path), tree.in_dir);
    tree.out_dir_made = true;
  }
  const native_path::string_type& whole = output.path.native();
  const std::size_t last = whole.find_last_of(path_separator);
  const native_path::string_type folder = whole.substr(0, last);
  if (!tree.fit_folder.empty() && folder == tree.fit_folder.native()) return std::nullopt;
  const std::size_t top = tree.out_dir.path.native().size();
  bool inside_input = tree.out_dir_is_in_dir;
  std::string printed = tree.out_dir.text;
  for (std::size_t at = top; at < last;) {
    const std::size_t end = std::min(whole.find(path_separator, at + 1), last);
    const native_path path(whole.substr(0, end));
    printed += path_separator + printed_name(native_path(whole.substr(at + 1, end - at - 1)));
    file_identity found = setup.files->identify_unfollowed(path);
    if (found.type == file_identity::kind::none) {
      const env_status made = setup.files->make_folder(path);
      found = setup.files->identify_unfollowed(path);
      if (!made.ok() && found.type != file_identity::kind::folder) {
        return file_failed(cant_open_line(output.text), role::output, made.error);
      }
    }
    if (found.type == file_identity::kind::link) {
      return file_failed(output_through_link_line(printed), role::output, 0);
    }
    if (found.type != file_identity::kind::folder) {
      return file_failed(cant_open_line(output.text), role::output, ENOTDIR);
    }
    inside_input = inside_input || same_file(found, tree.in_dir);
    at = end;
  }
  // Within IN_DIR only the input itself may be named, as when OUT_DIR is
  // IN_DIR: that is the same file twice, which the command says.
  if (inside_input && !same_file(setup.files->identify(output.path), input)) {
    return file_failed(output_inside_input_line(output.text), role::output, 0);
  }
  if (!inside_input) tree.fit_folder = native_path(folder);
  return std::nullopt;
}

}  // namespace

existing_output judge_existing_output(const native_path& output, const conversion_setup& setup,
                                      int* error_number) {
  int file = no_file;
  unsigned char start[palfill_start_size];
  std::size_t size = 0;
  env_status status = setup.files->open_for_reading(output, read_mode::wait, &file, nullptr);
  if (status.ok()) status = setup.files->read(file, start, sizeof start, &size);
  if (file != no_file) setup.files->close(file);
  if (!status.ok()) {
    *error_number = status.error;
    return existing_output::unreadable;
  }
  return begins_as_palfill_writes(start, size) ? existing_output::palfill_may_replace
                                               : existing_output::someones_data;
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
  stream_file file{setup.files};
  if (auto refused = open_to_read(clut, role::clut, setup, file, source.clut_identity)) {
    source.failure = *refused;
    return source;
  }
  const palfill_reader reader = file_reader(file);
  const palfill_result result = palfill_load_clut_io(source.colours.get(), &reader);
  setup.files->close(file.file);
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
  if (!same_file(setup.standard_output, setup.files->identify(name.path))) return std::nullopt;
  return file_failed(same_file_line(name.text), file, 0);
}

file_conversion convert_files(const command_argument& input, const colour_source& colours,
                              const command_argument& output, const conversion_setup& setup,
                              output_tree* tree) {
  if (colours.failure) return *colours.failure;
  const file_system& files = *setup.files;
  file_identity input_identity;
  stream_file in{setup.files, setup.stop};
  if (auto refused = open_to_read(input, role::input, setup, in, input_identity)) return *refused;
  if (tree != nullptr) {
    if (auto refused = fit_output_folder(output, input_identity, setup, *tree)) {
      files.close(in.file);
      return *refused;
    }
  }
  // Most outputs are new: one made where nothing was is none of the inputs
  // and no one's data, and it is a regular file.
  stream_file out{setup.files};
  env_status opened = files.open_for_writing(output.path, write_mode::create_new, &out.file);
  bool can_cut = opened.ok();
  if (!opened.ok()) {
    // Checked before the output is opened: opening it would truncate the
    // input, the CLUT, or someone's file named as the output by mistake.
    if (auto refused = refuse_output(output, input_identity, colours, setup, tree != nullptr)) {
      files.close(in.file);
      return *refused;
    }
    const write_mode mode = tree != nullptr ? write_mode::replace_unfollowed : write_mode::replace;
    opened = files.open_for_writing(output.path, mode, &out.file);
    if (!opened.ok()) {
      files.close(in.file);
      return file_failed(cant_open_line(output.text), role::output, opened.error);
    }
    can_cut = files.identify_open(out.file).type == file_identity::kind::regular;
  }
  // A regular file's size tells before any of a chunk is written whether
  // the file holds all of it; a pipe's bytes can only be counted as they
  // come. Only a regular file can be cut back.
  const palfill_reader reader = input_identity.type == file_identity::kind::regular
                                    ? file_reader(in, input_identity.size)
                                    : file_reader(in);
  const palfill_writer writer = file_writer(out, can_cut);
  palfill_result result = palfill_convert_io(colours.colours.get(), &reader, &writer);
  files.close(in.file);
  // Closing may still meet a write error the pass could not see.
  const env_status closed = files.close(out.file);
  if (!closed.ok() && result == PALFILL_FINISHED) {
    out.failure = closed.error;
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
  return convert_files(input, colours, output, setup);
}

}  // namespace palfill
