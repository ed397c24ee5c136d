#include "driver/files.h"

#include <system_error>

std::FILE* open_for_reading(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return nullptr;
  return std::fopen(path.c_str(), "rb");
}

std::FILE* open_for_writing(const std::filesystem::path& path) {
  return std::fopen(path.c_str(), "wb");
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
