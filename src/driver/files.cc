#include "driver/files.h"

#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// std::fopen takes no UTF-16 name, so Windows needs the C runtime's own.
std::FILE* open_file(const std::filesystem::path& path, bool for_writing) {
#ifdef _WIN32
  return _wfopen(path.c_str(), for_writing ? L"wb" : L"rb");
#else
  return std::fopen(path.c_str(), for_writing ? "wb" : "rb");
#endif
}

}  // namespace

std::FILE* open_for_reading(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return nullptr;
  return open_file(path, false);
}

std::FILE* open_for_writing(const std::filesystem::path& path) {
  return open_file(path, true);
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

bool names_regular_file(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

bool regular_file_size(const std::filesystem::path& path, uint64_t& size) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  size = std::filesystem::file_size(path, error);
  return !error;
}

void move_stdout_past_output(const std::filesystem::path& output) {
#ifndef _WIN32
  // The output was opened anew, at offset 0 of a description of its own;
  // standard output's offset in the same file has not moved.
  struct stat out_file, stdout_file;
  if (fstat(STDOUT_FILENO, &stdout_file) != 0 || !S_ISREG(stdout_file.st_mode)) return;
  if (stat(output.c_str(), &out_file) != 0) return;
  if (out_file.st_dev == stdout_file.st_dev && out_file.st_ino == stdout_file.st_ino) {
    lseek(STDOUT_FILENO, 0, SEEK_END);
  }
#else
  (void)output;
#endif
}
