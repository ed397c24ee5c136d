// Every line palfill and palfill-tree print, as text ending in a newline,
// and the rules every surface states with them: what each result leaves
// in the output file, how a file that palfill wrote begins. The commands,
// the WebAssembly module (for the page) and the Python extension all say
// these from here. Names appear as the user typed them. Nothing here
// touches a file or prints.
#ifndef PALFILL_MESSAGES_MESSAGES_H_
#define PALFILL_MESSAGES_MESSAGES_H_

#include <cstddef>
#include <string>

#include "palfill.h"

namespace palfill {

// ---- The command's lines.

std::string usage_line(const std::string& invocation_name);
std::string cant_open_line(const std::string& path);
std::string same_file_line(const std::string& path);
std::string not_png_output_line(const std::string& output_path);
std::string unknown_depth_line();
std::string not_a_clut_line(const std::string& path);
std::string not_png_line();
std::string unexpected_eof_line();
std::string cant_read_line(const std::string& path);
std::string cant_write_line(const std::string& output_path);
// The command's one line for memory it cannot have. It names a chunk, the
// usual cause; colours that cannot be allocated say it too.
std::string out_of_memory_line();
std::string finished_line(const std::string& input_path, const std::string& output_path);

// The line for a result of the library. `reading` is the file being read,
// named by "Finished" and "Can't read file": the input, or the CLUT while
// it loads. Every result has one; a value the library does not have gets
// "Error : Unknown result (N)".
std::string result_line(palfill_result result, const std::string& reading, const std::string& clut,
                        const std::string& output);

// The result's name as the packages spell it: "finished", "not_png", ...;
// null for a value the library does not have.
const char* result_name(palfill_result result);

// ---- What a result leaves where the output goes.

// A CLUT failure ends the command before it creates the output.
bool is_clut_failure(palfill_result result);

// What the output file holds after `result` when the conversion gave
// `size` bytes: none (no file made), empty, part of the image (the chunks
// before the damage) or the whole image.
enum class output_left { none, empty, part, whole };
output_left left_by(palfill_result result, std::size_t size);

// Whether `start` (the first `size` bytes of a file, fewer when the file is
// shorter than the longest of palfill's line beginnings) is how a file that
// palfill wrote begins: empty, an image whole or cut short, or one of its
// lines, cut short too, as a full disk leaves them. Only such a file may
// be replaced; anything else is someone's data.
constexpr std::size_t palfill_start_size = 9;  // "Finished "
bool begins_as_palfill_writes(const unsigned char* start, std::size_t size);

// ---- palfill-tree's lines. A folder is named as typed (IN_DIR joined
// with its relative path), or "." by the page for the top of a choice.

std::string tree_usage_line();  // its three forms
std::string tree_help_text();   // the usage, then the options
std::string tree_version_line();
std::string more_than_one_clut_line(const std::string& folder);
std::string cant_open_folder_line(const std::string& folder);
std::string folder_loop_line(const std::string& link);
// A folder that the walk reached under another name, and converted there.
std::string folder_converted_as_line(const std::string& converted_as);
std::string not_regular_file_line(const std::string& path);
std::string output_through_link_line(const std::string& link);
std::string output_inside_input_line(const std::string& output_path);
std::string input_inside_output_line(const std::string& input_path);
// The walk itself out of memory: the run cannot go on.
std::string tree_out_of_memory_line();
std::string tree_summary_line(const std::string& in_dir, const std::string& out_dir,
                              std::size_t converted, std::size_t failed);

// The line of a CLUT that failed as palfill-tree prints it: the command's
// line, with ` (CLUT_PATH)` at its end where that line does not name the
// CLUT, so that the CLUT is blamed, not the image beside it.
std::string tree_clut_failure_line(const std::string& line, palfill_result result,
                                   const std::string& clut);

// Whether `text` is a report that palfill-tree's lines make: empty, or
// ending with its summary. The page replaces such a failed.txt alone.
bool is_tree_report(const std::string& text);

// palfill-tree's complaint about its arguments, for standard error.
std::string tree_argument_note(const std::string& what);

// A rendering that is not written: its name is an image's own in the tree,
// or another rendering's. `image` is the image it renders, as typed.
std::string rendering_names_image_line(const std::string& image);
std::string rendering_names_rendering_line(const std::string& image);

// `text` with each control character (below 0x20, 0x7F, and U+0080 to
// U+009F where `text` is UTF-8) written \xNN, one for each of its bytes, so
// that no name can end a line, erase one or forge another. A final newline
// stays. Backslashes stay, as Windows's separator. A plan's field
// (`backslashes`) has no line end, and writes a backslash \\.
std::string without_controls(const std::string& text, bool backslashes = false);

// ---- Plans: `OUT_REL<TAB>IN_REL<TAB>CLUT<TAB>WHY`, one line for each
// rendering, as palfill-tree --plan writes them and --use-plan reads them.
// Paths are relative to IN_DIR with '/' between names. In each field a
// backslash is written \\ and a control character \xNN.

struct plan_fields {
  std::string output;
  std::string input;
  std::string clut;  // "-": the default colours; "!": the rendering fails with `why`
  std::string why;
};
std::string plan_line(const plan_fields& fields);
// The fields of `line`, its newline taken off; false when it has other
// than four, or an escape that is none of those above.
bool read_plan_line(const std::string& line, plan_fields& fields);
std::string not_a_plan_line();

}  // namespace palfill

#endif  // PALFILL_MESSAGES_MESSAGES_H_
