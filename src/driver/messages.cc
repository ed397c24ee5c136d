#include "driver/messages.h"

#include <cstdio>
#include <cstdlib>

void print_usage(const char* invocation_name) {
  std::printf("Usage : %s in.png [in.clt] out.png\n", invocation_name);
}

void print_cant_open(const char* path) {
  std::printf("Error : Can't open file %s\n", path);
}

void print_unknown_depth(int depth_code) {
  std::printf("Error : Unknown depth (%d)\n", depth_code);
}

void print_not_png() {
  std::printf("Error : Not a PNG format\n");
}

void print_same_file(const char* output_path) {
  std::printf("Error : Input and output are the same file %s\n", output_path);
}

void print_cant_write(const char* output_path) {
  std::printf("Error : Can't write file %s\n", output_path);
}

void print_chunk_too_large() {
  std::printf("Error : Chunk too large to buffer\n");
}

void print_finished(const char* input_path, const char* output_path) {
  std::printf("Finished %s -> %s\n", input_path, output_path);
}

void die_unexpected_eof() {
  std::printf("Error : Unexpected EOF\n");
  std::exit(1);
}
