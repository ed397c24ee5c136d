#include "driver/messages.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "driver/utf8.h"
#endif

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
  return "Error : Unknown depth (" + std::to_string(depth_code) + ")\n";
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

// The line is UTF-8 on Windows, the bytes as typed elsewhere. A Windows
// console gets it through its wide-character output, which shows every
// name whatever the console's code page; a file or a pipe gets the UTF-8.
// Standard output stays in text mode there, so the line ends in CRLF.
void print_line(const std::string& line) {
#ifdef _WIN32
  if (_isatty(_fileno(stdout))) {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_U16TEXT);
    const std::u16string wide = utf16_from_utf8(line);
    std::fputws(reinterpret_cast<const wchar_t*>(wide.c_str()), stdout);
    return;
  }
#endif
  std::fwrite(line.data(), 1, line.size(), stdout);
}
