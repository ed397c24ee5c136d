#include "driver/file_streams.h"

#include <system_error>

namespace {

int read_file(void* context, unsigned char* dest, std::size_t count, std::size_t* given) {
  auto* file = static_cast<std::FILE*>(context);
  *given = std::fread(dest, 1, count, file);
  return *given < count && std::ferror(file) ? 1 : 0;
}

int write_file(void* context, const unsigned char* bytes, std::size_t count) {
  return std::fwrite(bytes, 1, count, static_cast<std::FILE*>(context)) == count ? 0 : 1;
}

int write_cuttable_file(void* context, const unsigned char* bytes, std::size_t count) {
  return write_file(static_cast<cuttable_file*>(context)->file, bytes, count);
}

int cut_file(void* context, unsigned long long length) {
  auto* target = static_cast<cuttable_file*>(context);
  if (std::fflush(target->file) != 0) return 1;
  std::error_code error;
  std::filesystem::resize_file(target->path, length, error);
  return error ? 1 : 0;
}

}  // namespace

palfill_reader file_reader(std::FILE* file) {
  return palfill_reader{sizeof(palfill_reader), read_file, file, 0, 0};
}

palfill_reader file_reader(std::FILE* file, uint64_t length) {
  return palfill_reader{sizeof(palfill_reader), read_file, file, 1, length};
}

palfill_writer file_writer(std::FILE* file) {
  return palfill_writer{sizeof(palfill_writer), write_file, nullptr, file};
}

palfill_writer file_writer(cuttable_file& target) {
  return palfill_writer{sizeof(palfill_writer), write_cuttable_file, cut_file, &target};
}
