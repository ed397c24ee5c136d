#include "driver/messages.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "driver/utf8.h"
#endif

namespace {

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

}  // namespace

void print_usage(const std::string& invocation_name) {
  print_line("Usage : " + invocation_name + " in.png [in.clt] out.png\n");
}

void print_cant_open(const std::string& path) {
  print_line("Error : Can't open file " + path + "\n");
}

void print_unknown_depth(int depth_code) {
  print_line("Error : Unknown depth (" + std::to_string(depth_code) + ")\n");
}

void print_not_png() {
  print_line("Error : Not a PNG format\n");
}

void print_not_a_clut(const std::string& path) {
  print_line("Error : Not a CLUT file " + path + "\n");
}

void print_unexpected_eof() {
  print_line("Error : Unexpected EOF\n");
}

void print_same_file(const std::string& output_path) {
  print_line("Error : Input and output are the same file " + output_path + "\n");
}

void print_cant_read(const std::string& path) {
  print_line("Error : Can't read file " + path + "\n");
}

void print_cant_write(const std::string& output_path) {
  print_line("Error : Can't write file " + output_path + "\n");
}

void print_chunk_too_large() {
  print_line("Error : Chunk too large to buffer\n");
}

void print_finished(const std::string& input_path, const std::string& output_path) {
  print_line("Finished " + input_path + " -> " + output_path + "\n");
}
