// Every line palfill and palfill-tree print, as text ending in a newline,
// and how a file that palfill wrote begins. Names appear as the user typed
// them. Nothing here touches a file: the WebAssembly module builds this
// too, so that the page and the Python package give the command's lines
// from this one place.
#ifndef PALFILL_DRIVER_MESSAGES_H_
#define PALFILL_DRIVER_MESSAGES_H_

#include <cstddef>
#include <string>

#include "palfill.h"

namespace palfill {

std::string usage_line(const std::string& invocation_name);
std::string cant_open_line(const std::string& path);
std::string same_file_line(const std::string& path);
std::string not_png_output_line(const std::string& output_path);
std::string unknown_depth_line(int depth_code);
std::string not_a_clut_line(const std::string& path);
std::string not_png_line();
std::string unexpected_eof_line();
std::string cant_read_line(const std::string& path);
std::string cant_write_line(const std::string& output_path);
std::string chunk_too_large_line();
std::string finished_line(const std::string& input_path, const std::string& output_path);

// The line for a result of the library. `reading` is the file being read,
// named by "Finished" and "Can't read file": the input, or the CLUT while
// it loads. Every result has one; a value the library does not have gets
// "Error : Unknown result (N)".
std::string result_line(palfill_result result, const std::string& reading, const std::string& clut,
                        const std::string& output);

// palfill-tree's own lines. `folder` is named as typed (IN_DIR joined with
// the folder's relative path), or "." by the page for the top of a choice.
std::string tree_usage_line();
std::string more_than_one_clut_line(const std::string& folder);
std::string cant_open_folder_line(const std::string& folder);
std::string folder_loop_line(const std::string& link);
std::string tree_summary_line(const std::string& in_dir, const std::string& out_dir,
                              std::size_t converted, std::size_t failed);

// Whether `start` (the first `size` bytes of a file, fewer when the file is
// shorter than the longest of palfill's line beginnings) is how a file that
// palfill wrote begins: empty, an image whole or cut short, or one of its
// lines, cut short too, as a full disk leaves them. Only such a file may
// be replaced; anything else is someone's data.
constexpr std::size_t palfill_start_size = 9;  // "Finished "
bool begins_as_palfill_writes(const unsigned char* start, std::size_t size);

}  // namespace palfill

#endif  // PALFILL_DRIVER_MESSAGES_H_
