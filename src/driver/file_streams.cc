#include "driver/file_streams.h"

#include <system_error>

namespace {

std::size_t read_file(void* context, unsigned char* dest, std::size_t count) {
  return std::fread(dest, 1, count, static_cast<std::FILE*>(context));
}

int write_file(void* context, const unsigned char* bytes, std::size_t count) {
  return std::fwrite(bytes, 1, count, static_cast<std::FILE*>(context)) == count;
}

int write_cuttable_file(void* context, const unsigned char* bytes, std::size_t count) {
  return write_file(static_cast<cuttable_file*>(context)->file, bytes, count);
}

int cut_file(void* context, unsigned long long length) {
  auto* target = static_cast<cuttable_file*>(context);
  if (std::fflush(target->file) != 0) return 0;
  std::error_code error;
  std::filesystem::resize_file(target->path, length, error);
  return !error;
}

}  // namespace

palfill_source file_source(std::FILE* file) {
  return palfill_source{read_file, file, 0, 0};
}

palfill_source file_source(std::FILE* file, uint64_t length) {
  return palfill_source{read_file, file, 1, length};
}

palfill_sink file_sink(std::FILE* file) {
  return palfill_sink{write_file, nullptr, file};
}

palfill_sink file_sink(cuttable_file& target) {
  return palfill_sink{write_cuttable_file, cut_file, &target};
}
