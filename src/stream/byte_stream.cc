#include "stream/byte_stream.h"

#include <algorithm>
#include <cstring>

namespace palfill {
namespace {

std::size_t read_memory(void* context, uint8_t* dest, std::size_t count, bool*) {
  auto* input = static_cast<memory_input*>(context);
  const std::size_t got = std::min(count, input->size - input->pos);
  if (got != 0) std::memcpy(dest, input->bytes + input->pos, got);
  input->pos += got;
  return got;
}

bool write_output(void* context, const uint8_t* bytes, std::size_t count) {
  auto* output = static_cast<memory_output*>(context);
  if (count > output->capacity - output->size) return false;
  if (count != 0) std::memcpy(output->bytes + output->size, bytes, count);
  output->size += count;
  return true;
}

bool count_written(void* context, const uint8_t*, std::size_t count) {
  *static_cast<uint64_t*>(context) += count;
  return true;
}

}  // namespace

std::size_t read_some(byte_source& source, uint8_t* dest, std::size_t count) {
  if (source.failed) return 0;  // a source that failed is never read again
  bool failed = false;
  const std::size_t got = source.read(source.context, dest, count, &failed);
  source.failed = source.failed || failed;
  return got;
}

bool read_exactly(byte_source& source, uint8_t* dest, std::size_t count) {
  return read_some(source, dest, count) == count;
}

byte_source memory_source(memory_input& input, bool length_known) {
  return byte_source{read_memory, &input, length_known, input.size - input.pos, false};
}

byte_sink memory_output_sink(memory_output& output) {
  return byte_sink{write_output, nullptr, &output};
}

byte_sink counting_sink(uint64_t& size) {
  return byte_sink{count_written, nullptr, &size};
}

}  // namespace palfill
