#include "driver/files.h"

#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
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

#ifdef _WIN32
file_identity identify_handle(HANDLE handle) {
  file_identity identity;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return identity;
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_PIPE) identity.type = file_identity::kind::pipe;
  if (type == FILE_TYPE_CHAR) identity.type = file_identity::kind::other;  // CON, NUL
  if (type != FILE_TYPE_DISK) return identity;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info)) {
    const bool directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    identity.type = directory ? file_identity::kind::other : file_identity::kind::regular;
    identity.volume_known = true;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    return identity;
  }
  // A handle opened for writing alone may not show its attributes; its
  // file ID needs no right (NTFS keeps the same 64 bits in both).
  FILE_ID_INFO id;
  if (!GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) return identity;
  identity.type = file_identity::kind::regular;
  identity.volume_known = id.VolumeSerialNumber != 0;
  identity.volume = id.VolumeSerialNumber;
  std::memcpy(&identity.index, id.FileId.Identifier, sizeof identity.index);
  return identity;
}
#else
file_identity from_stat(const struct stat& info) {
  file_identity identity;
  identity.type = S_ISREG(info.st_mode) ? file_identity::kind::regular
                  : S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) ? file_identity::kind::pipe
                                                                     : file_identity::kind::other;
  identity.volume_known = true;
  identity.volume = static_cast<uint64_t>(info.st_dev);
  identity.index = static_cast<uint64_t>(info.st_ino);
  return identity;
}
#endif

// Whether `start` (`size` bytes, fewer when the file is shorter) is how a
// file that palfill wrote begins: an image, whole or cut short, or a line.
bool begins_as_palfill_writes(const char* start, std::size_t size) {
  static const char signature[] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
  if (size == 0) return true;
  if (std::memcmp(start, signature, size < sizeof signature ? size : sizeof signature) == 0) {
    return true;
  }
  for (const char* line : {"Finished ", "Error : ", "Usage : "}) {
    const std::size_t length = std::strlen(line);
    if (size >= length && std::memcmp(start, line, length) == 0) return true;
  }
  return false;
}

}  // namespace

file_identity identify_path(const std::filesystem::path& path) {
#ifdef _WIN32
  // No access asked for: this only looks, whoever else holds the file.
  const HANDLE handle =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  const file_identity identity = identify_handle(handle);
  CloseHandle(handle);
  return identity;
#else
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return {};
  return from_stat(info);
#endif
}

file_identity identify_stdout() {
#ifdef _WIN32
  return identify_handle(reinterpret_cast<HANDLE>(_get_osfhandle(1)));
#else
  struct stat info;
  if (fstat(STDOUT_FILENO, &info) != 0) return {};
  return from_stat(info);
#endif
}

bool same_file(const file_identity& a, const file_identity& b) {
  // Pipes and devices of Windows carry no index to tell them apart.
  const bool comparable = a.type != file_identity::kind::none && (a.volume_known || a.index != 0);
  const bool same_volume = !a.volume_known || !b.volume_known || a.volume == b.volume;
  return comparable && a.type == b.type && same_volume && a.index == b.index;
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  return same_file(identify_path(a), identify_path(b));
}

std::FILE* open_for_reading(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return nullptr;
  return open_file(path, false);
}

std::FILE* open_for_writing(const std::filesystem::path& path) {
  return open_file(path, true);
}

bool may_replace_output(const std::filesystem::path& output) {
  if (identify_path(output).type != file_identity::kind::regular) return true;
  std::FILE* file = open_for_reading(output);
  if (file == nullptr) return false;
  char start[9];  // the longest of palfill's line beginnings, "Finished "
  const std::size_t size = std::fread(start, 1, sizeof start, file);
  const bool read_failed = std::ferror(file) != 0;
  std::fclose(file);
  return !read_failed && begins_as_palfill_writes(start, size);
}

bool names_regular_file(const std::filesystem::path& path) {
  return identify_path(path).type == file_identity::kind::regular;
}

bool regular_file_size(const std::filesystem::path& path, uint64_t& size) {
  std::error_code error;
  if (!names_regular_file(path)) return false;
  size = std::filesystem::file_size(path, error);
  return !error;
}

void move_stdout_to_end() {
  std::fflush(stdout);
#ifdef _WIN32
  _lseeki64(_fileno(stdout), 0, SEEK_END);
#else
  lseek(STDOUT_FILENO, 0, SEEK_END);
#endif
}
