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
#include "env_native.h"
#include "utf8.h"

namespace palfill {
namespace {

// The errno value for a system error, as the C runtime maps its own.
int errno_for(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return EINVAL;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    default:
      return EIO;
  }
}

env_status system_error() {
  return env_status{errno_for(GetLastError())};
}

env_status runtime_error() {
  return env_status{errno != 0 ? errno : EIO};
}

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

// No access asked for: this only looks, whoever else holds the file.
HANDLE open_to_look(const native_path& path, DWORD flags) {
  return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// A symbolic link or a junction: a reparse point that leads elsewhere.
bool is_link(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

namespace native {

file_identity identify(const native_path& path) {
  const HANDLE handle = open_to_look(path, 0);
  if (handle == INVALID_HANDLE_VALUE) return {};
  const file_identity identity = identify_handle(handle);
  CloseHandle(handle);
  return identity;
}

file_identity identify_unfollowed(const native_path& path) {
  if (!is_link(GetFileAttributesW(path.c_str()))) return identify(path);
  file_identity link;
  link.type = file_identity::kind::link;
  return link;
}

file_identity identify_open(int file) {
  return identify_handle(reinterpret_cast<HANDLE>(_get_osfhandle(file)));
}

env_status open_for_reading(const native_path& path, read_mode, int* file,
                            file_identity* identity) {
  *file = no_file;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return env_status{EISDIR};
  }
  errno = 0;
  *file = _wopen(path.c_str(), _O_RDONLY | _O_BINARY);
  if (*file < 0) return runtime_error();
  if (identity != nullptr) *identity = identify_open(*file);
  return {};
}

env_status open_for_writing(const native_path& path, write_mode mode, int* file) {
  *file = no_file;
  if (mode == write_mode::replace_unfollowed && is_link(GetFileAttributesW(path.c_str()))) {
    return env_status{ELOOP};
  }
  const int flags = mode == write_mode::create_new ? _O_CREAT | _O_EXCL : _O_CREAT | _O_TRUNC;
  errno = 0;
  *file = _wopen(path.c_str(), _O_WRONLY | _O_BINARY | flags, _S_IREAD | _S_IWRITE);
  return *file < 0 ? runtime_error() : env_status{};
}

env_status read_file(int file, unsigned char* dest, std::size_t count, std::size_t* given) {
  *given = 0;
  while (*given < count) {
    const std::size_t want = std::min<std::size_t>(count - *given, INT_MAX);
    errno = 0;
    const int got = _read(file, dest + *given, static_cast<unsigned>(want));
    if (got == 0) return {};
    if (got < 0) return runtime_error();
    *given += static_cast<std::size_t>(got);
  }
  return {};
}

env_status write_file(int file, const unsigned char* bytes, std::size_t count) {
  while (count != 0) {
    const std::size_t want = std::min<std::size_t>(count, INT_MAX);
    errno = 0;
    const int sent = _write(file, bytes, static_cast<unsigned>(want));
    if (sent <= 0) return runtime_error();
    bytes += sent;
    count -= static_cast<std::size_t>(sent);
  }
  return {};
}

env_status cut_file(int file, uint64_t length) {
  const errno_t error = _chsize_s(file, static_cast<long long>(length));
  return env_status{error};
}

env_status close_file(int file) {
  errno = 0;
  return _close(file) == 0 ? env_status{} : runtime_error();
}

env_status list_folder(const native_path& path, std::vector<folder_entry>& entries) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileExW(joined_path(path, L"*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return system_error();
  entries.clear();
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    folder_entry entry{native_path(name), file_identity::kind::regular,
                       is_link(found.dwFileAttributes)};
    DWORD attributes = found.dwFileAttributes;
    if (entry.link) attributes = GetFileAttributesW(joined_path(path, name).c_str());  // followed
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      entry.type = file_identity::kind::none;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      entry.type = file_identity::kind::folder;
    }
    entries.push_back(std::move(entry));
  } while (FindNextFileW(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? env_status{} : env_status{errno_for(error)};
}

env_status probe_folder(const native_path& path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileExW(joined_path(path, L"*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return system_error();
  FindClose(search);
  return {};
}

env_status make_folder(const native_path& path) {
  return CreateDirectoryW(path.c_str(), nullptr) ? env_status{} : system_error();
}

env_status real_path(const native_path& path, native_path* real) {
  const HANDLE handle = open_to_look(path, 0);
  if (handle == INVALID_HANDLE_VALUE) return system_error();
  std::wstring name(MAX_PATH, L'\0');
  DWORD size = GetFinalPathNameByHandleW(handle, &name[0], static_cast<DWORD>(name.size()),
                                         FILE_NAME_NORMALIZED);
  if (size >= name.size()) {
    name.resize(size);
    size = GetFinalPathNameByHandleW(handle, &name[0], static_cast<DWORD>(name.size()),
                                     FILE_NAME_NORMALIZED);
  }
  const env_status status = size == 0 || size >= name.size() ? system_error() : env_status{};
  CloseHandle(handle);
  if (!status.ok()) return status;
  name.resize(size);
  *real = native_path(name);
  return {};
}

}  // namespace native

namespace {

// A console gets wide characters; files and pipes the bytes.
void write_text(FILE* stream, const std::string& text) {
  if (_isatty(_fileno(stream))) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_U16TEXT);
    std::fputws(wide(text).c_str(), stream);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

const char path_separator = '\\';

native_path joined_path(const native_path& folder, const native_path& name) {
  std::wstring path = folder.native();
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  return native_path(path + name.native());
}

std::string printed_name(const native_path& name) {
  const std::wstring& text = name.native();
  return utf8_from_utf16(std::u16string(text.begin(), text.end()));
}

native_path native_name(const std::string& printed) {
  return native_path(wide(printed));
}

bool same_file(const file_identity& a, const file_identity& b) {
  // Pipes and devices of Windows carry no index to tell them apart.
  const bool comparable = a.type != file_identity::kind::none && (a.volume_known || a.index != 0);
  const bool same_volume = !a.volume_known || !b.volume_known || a.volume == b.volume;
  return comparable && a.type == b.type && same_volume && a.index == b.index;
}

file_identity identify_stdout() {
  return native::identify_open(1);
}

void write_stdout(const std::string& text) {
  write_text(stdout, text);
}

void move_stdout_to_end() {
  std::fflush(stdout);
  _lseeki64(_fileno(stdout), 0, SEEK_END);
}

bool stdout_is_terminal() {
  return _isatty(_fileno(stdout)) != 0;
}

bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}

void write_stderr(const std::string& text) {
  if (_isatty(_fileno(stderr))) {
    const std::wstring shown = wide(text);
    DWORD written = 0;
    WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), shown.data(), static_cast<DWORD>(shown.size()),
                  &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

unsigned processor_count() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

}  // namespace palfill

#endif  // _WIN32
