#include "stream/byte_stream.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace {

std::size_t read_file(void* context, uint8_t* dest, std::size_t count) {
  return std::fread(dest, 1, count, static_cast<std::FILE*>(context));
}

bool write_file(void* context, const uint8_t* bytes, std::size_t count) {
  return std::fwrite(bytes, 1, count, static_cast<std::FILE*>(context)) == count;
}

bool write_cuttable_file(void* context, const uint8_t* bytes, std::size_t count) {
  return write_file(static_cast<cuttable_file*>(context)->file, bytes, count);
}

bool cut_file(void* context, uint64_t length) {
  auto* target = static_cast<cuttable_file*>(context);
  if (std::fflush(target->file) != 0) return false;
  std::error_code error;
  std::filesystem::resize_file(target->path, length, error);
  return !error;
}

std::size_t read_memory(void* context, uint8_t* dest, std::size_t count) {
  auto* input = static_cast<memory_input*>(context);
  const std::size_t got = std::min(count, input->size - input->pos);
  if (got != 0) std::memcpy(dest, input->bytes + input->pos, got);
  input->pos += got;
  return got;
}

bool write_memory(void* context, const uint8_t* bytes, std::size_t count) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), count);
  return true;
}

bool cut_memory(void* context, uint64_t length) {
  auto* bytes = static_cast<std::string*>(context);
  if (length > bytes->size()) return false;
  bytes->resize(static_cast<std::size_t>(length));
  return true;
}

}  // namespace

bool read_exactly(byte_source& source, uint8_t* dest, std::size_t count) {
  return source.read(source.context, dest, count) == count;
}

byte_source file_source(std::FILE* file) {
  return byte_source{read_file, file, false, 0};
}

byte_source file_source(std::FILE* file, uint64_t length) {
  return byte_source{read_file, file, true, length};
}

byte_sink file_sink(std::FILE* file) {
  return byte_sink{write_file, nullptr, file};
}

byte_sink file_sink(cuttable_file& target) {
  return byte_sink{write_cuttable_file, cut_file, &target};
}

byte_source memory_source(memory_input& input, bool length_known) {
  return byte_source{read_memory, &input, length_known, input.size - input.pos};
}

byte_sink memory_sink(std::string& bytes, bool can_cut) {
  return byte_sink{write_memory, can_cut ? cut_memory : nullptr, &bytes};
}
