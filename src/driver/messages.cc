#include "messages.h"

#include <algorithm>
#include <cstring>

namespace palfill {
namespace {

// A number in decimal, as std::to_string writes it; std::to_string would
// bring printf into the WebAssembly module, which carries this file too.
std::string decimal(long long value) {
  const bool negative = value < 0;
  unsigned long long left = negative ? 0ull - static_cast<unsigned long long>(value)
                                     : static_cast<unsigned long long>(value);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + left % 10));
    left /= 10;
  } while (left != 0);
  return negative ? "-" + digits : digits;
}

}  // namespace

std::string usage_line(const std::string& invocation_name) {
  return "Usage : " + invocation_name + " in.png [in.clt] out.png\n";
}

std::string cant_open_line(const std::string& path) {
  return "Error : Can't open file " + path + "\n";
}

std::string same_file_line(const std::string& path) {
  return "Error : Input and output are the same file " + path + "\n";
}

std::string not_png_output_line(const std::string& output_path) {
  return "Error : Output is not a PNG file " + output_path + "\n";
}

std::string unknown_depth_line(int depth_code) {
  return "Error : Unknown depth (" + decimal(depth_code) + ")\n";
}

std::string not_a_clut_line(const std::string& path) {
  return "Error : Not a CLUT file " + path + "\n";
}

std::string not_png_line() {
  return "Error : Not a PNG format\n";
}

std::string unexpected_eof_line() {
  return "Error : Unexpected EOF\n";
}

std::string cant_read_line(const std::string& path) {
  return "Error : Can't read file " + path + "\n";
}

std::string cant_write_line(const std::string& output_path) {
  return "Error : Can't write file " + output_path + "\n";
}

std::string chunk_too_large_line() {
  return "Error : Chunk too large to buffer\n";
}

std::string finished_line(const std::string& input_path, const std::string& output_path) {
  return "Finished " + input_path + " -> " + output_path + "\n";
}

std::string result_line(palfill_result result, const std::string& reading, const std::string& clut,
                        const std::string& output) {
  // No default: a result added to palfill.h without its line fails the
  // build (-Wswitch), so that every result keeps a line of its own.
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
    case PALFILL_WRITE_FAILED:
      return cant_write_line(output);
    case PALFILL_READ_FAILED:
      return cant_read_line(reading);
    case PALFILL_BUFFER_TOO_SMALL:  // only where a caller's buffer is the output
      return "Error : Output buffer too small\n";
    case PALFILL_INVALID_ARGUMENT:  // only from a caller's own reader or writer
      return "Error : Invalid argument\n";
  }
  return "Error : Unknown result (" + decimal(static_cast<int>(result)) + ")\n";
}

std::string tree_usage_line() {
  return "Usage : palfill-tree [-j N] [--clut FILE] IN_DIR OUT_DIR\n";
}

std::string more_than_one_clut_line(const std::string& folder) {
  return "Error : More than one CLUT file in " + folder + "\n";
}

std::string cant_open_folder_line(const std::string& folder) {
  return "Error : Can't open folder " + folder + "\n";
}

std::string folder_loop_line(const std::string& link) {
  return "Error : Link to a folder it is inside of " + link + "\n";
}

std::string tree_summary_line(const std::string& in_dir, const std::string& out_dir,
                              std::size_t converted, std::size_t failed) {
  return "Finished " + in_dir + " -> " + out_dir + ": " +
         decimal(static_cast<long long>(converted)) + " converted, " +
         decimal(static_cast<long long>(failed)) + " failed\n";
}

bool begins_as_palfill_writes(const unsigned char* start, std::size_t size) {
  static const char signature[] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
  const auto begins_as = [&](const char* text, std::size_t length) {
    return std::memcmp(start, text, std::min(size, length)) == 0;
  };
  if (begins_as(signature, sizeof signature)) return true;
  for (const char* line : {"Finished ", "Error : ", "Usage : "}) {
    if (begins_as(line, std::strlen(line))) return true;
  }
  return false;
}

}  // namespace palfill
