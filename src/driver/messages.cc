#include "driver/messages.h"

#include <cstdio>

namespace {

void print_line(const std::string& line) {
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

void print_unexpected_eof() {
  print_line("Error : Unexpected EOF\n");
}

void print_same_file(const std::string& output_path) {
  print_line("Error : Input and output are the same file " + output_path + "\n");
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
