#include "driver/files.h"

#include <filesystem>
#include <system_error>

std::FILE* open_for_reading(const char* path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return nullptr;
  return std::fopen(path, "rb");
}

bool same_file(const char* a, const char* b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}
