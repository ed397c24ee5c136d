// What the WebAssembly module exports besides the C interface of
// palfill.h: memory for JavaScript to hand bytes in and out through, the
// core's CRC-32, which the page's zip writer needs for every file, and the
// command's lines and its test of what it may replace, so that the page
// says exactly what the command says, from the same code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "format/crc32.h"
#include "messages/messages.h"

namespace {

// A line for JavaScript, NUL-terminated, freed with palfill_web_release();
// null when there is no memory for it.
char* handed_over(const std::string& line) {
  auto* text = static_cast<char*>(std::malloc(line.size() + 1));
  if (text != nullptr) std::memcpy(text, line.c_str(), line.size() + 1);
  return text;
}

}  // namespace

extern "C" {

void* palfill_web_alloc(std::size_t size) {
  return std::malloc(size == 0 ? 1 : size);
}

void palfill_web_release(void* bytes) {
  std::free(bytes);
}

uint32_t palfill_web_crc32(const uint8_t* bytes, std::size_t size) {
  return palfill::crc32(bytes, size);
}

char* palfill_web_result_line(int result, const char* reading, const char* clut,
                              const char* output) {
  return handed_over(palfill::result_line(palfill_result(result), reading, clut, output));
}

char* palfill_web_cant_open_line(const char* path) {
  return handed_over(palfill::cant_open_line(path));
}

char* palfill_web_not_png_output_line(const char* path) {
  return handed_over(palfill::not_png_output_line(path));
}

char* palfill_web_more_than_one_clut_line(const char* folder) {
  return handed_over(palfill::more_than_one_clut_line(folder));
}

char* palfill_web_summary_line(const char* in_dir, const char* out_dir, std::size_t converted,
                               std::size_t failed) {
  return handed_over(palfill::tree_summary_line(in_dir, out_dir, converted, failed));
}

int palfill_web_may_replace(const unsigned char* start, std::size_t size) {
  return palfill::begins_as_palfill_writes(start, size) ? 1 : 0;
}

}  // extern "C"
