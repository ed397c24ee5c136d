// The driver's platform on Windows, over Win32 and the C runtime (see
// env.h). Names are UTF-16 throughout: the C runtime's narrow calls would
// take them in the ANSI code page, which turns 画像.png into ??.png.
#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

#include "env.h"
#include "utf8.h"

namespace palfill {
namespace {

file_identity identify_handle(HANDLE handle) {
  file_identity identity;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return identity;
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_PIPE) identity.type = file_identity::kind::pipe;
  if (type == FILE_TYPE_CHAR) identity.type = file_identity::kind::other;  // CON, NUL
  if (type != FILE_TYPE_DISK) return identity;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info)) {
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    identity.type = folder ? file_identity::kind::folder : file_identity::kind::regular;
    identity.volume_known = true;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    if (!folder) identity.size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
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

std::wstring wide(const std::string& text) {
  const std::u16string utf16 = utf16_from_utf8(text);
  return std::wstring(utf16.begin(), utf16.end());
}

}  // namespace

const char path_separator = '\\';

native_path joined(const native_path& folder, const native_path& name) {
  std::wstring path = folder.native();
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  return native_path(path + name.native());
}

std::string printed_name(const native_path& name) {
  const std::wstring& text = name.native();
  return utf8_from_utf16(std::u16string(text.begin(), text.end()));
}

file_identity identify_path(const native_path& path) {
  // No access asked for: this only looks, whoever else holds the file.
  const HANDLE handle =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  const file_identity identity = identify_handle(handle);
  CloseHandle(handle);
  return identity;
}

file_identity identify_open_file(int file) {
  return identify_handle(reinterpret_cast<HANDLE>(_get_osfhandle(file)));
}

file_identity identify_stdout() {
  return identify_open_file(1);
}

bool same_file(const file_identity& a, const file_identity& b) {
  // Pipes and devices of Windows carry no index to tell them apart.
  const bool comparable = a.type != file_identity::kind::none && (a.volume_known || a.index != 0);
  const bool same_volume = !a.volume_known || !b.volume_known || a.volume == b.volume;
  return comparable && a.type == b.type && same_volume && a.index == b.index;
}

int open_for_reading(const native_path& path, file_identity* identity) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return no_file;
  }
  const int file = _wopen(path.c_str(), _O_RDONLY | _O_BINARY);
  if (file < 0) return no_file;
  if (identity != nullptr) *identity = identify_open_file(file);
  return file;
}

int open_for_writing(const native_path& path) {
  const int file =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
  return file < 0 ? no_file : file;
}

int create_for_writing(const native_path& path) {
  const int file =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  return file < 0 ? no_file : file;
}

bool read_from(int file, unsigned char* dest, std::size_t count, std::size_t* given) {
  *given = 0;
  while (*given < count) {
    const std::size_t want = std::min<std::size_t>(count - *given, INT_MAX);
    const int got = _read(file, dest + *given, static_cast<unsigned>(want));
    if (got == 0) return true;
    if (got < 0) return false;
    *given += static_cast<std::size_t>(got);
  }
  return true;
}

bool write_to(int file, const unsigned char* bytes, std::size_t count) {
  while (count != 0) {
    const std::size_t want = std::min<std::size_t>(count, INT_MAX);
    const int sent = _write(file, bytes, static_cast<unsigned>(want));
    if (sent <= 0) return false;
    bytes += sent;
    count -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool cut_file(int file, uint64_t length) {
  return _chsize_s(file, static_cast<long long>(length)) == 0;
}

bool close_file(int file) {
  return _close(file) == 0;
}

bool list_folder(const native_path& path, std::vector<folder_entry>& entries) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileExW(joined(path, L"*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return false;
  entries.clear();
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    // A link to a folder (a symbolic link or a junction) carries the
    // folder attribute too, and is followed as one.
    entries.push_back(
        folder_entry{native_path(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &found));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(search);
  return complete;
}

void print_line(const std::string& line) {
  if (_isatty(_fileno(stdout))) {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_U16TEXT);
    std::fputws(wide(line).c_str(), stdout);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void move_stdout_to_end() {
  std::fflush(stdout);
  _lseeki64(_fileno(stdout), 0, SEEK_END);
}

bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}

void print_to_terminal(const std::string& text) {
  const std::wstring shown = wide(text);
  DWORD written = 0;
  WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), shown.data(), static_cast<DWORD>(shown.size()),
                &written, nullptr);
}

unsigned processor_count() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

}  // namespace palfill

#endif  // _WIN32
