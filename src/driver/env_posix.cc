// The driver's platform on POSIX systems (see env.h).
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "env.h"
#include "env_native.h"

namespace palfill {
namespace {

env_status failed_with(int error) {
  return env_status{error != 0 ? error : EIO};
}

env_status last_error() {
  return failed_with(errno);
}

file_identity::kind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return file_identity::kind::regular;
  if (S_ISDIR(mode)) return file_identity::kind::folder;
  if (S_ISFIFO(mode) || S_ISSOCK(mode)) return file_identity::kind::pipe;
  if (S_ISLNK(mode)) return file_identity::kind::link;
  return file_identity::kind::other;
}

file_identity from_stat(const struct stat& info) {
  file_identity identity;
  identity.type = kind_of(info.st_mode);
  identity.volume_known = true;
  identity.volume = static_cast<uint64_t>(info.st_dev);
  identity.index = static_cast<uint64_t>(info.st_ino);
  if (S_ISREG(info.st_mode)) identity.size = static_cast<uint64_t>(info.st_size);
  return identity;
}

}  // namespace

namespace native {

file_identity identify(const native_path& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return {};
  return from_stat(info);
}

file_identity identify_unfollowed(const native_path& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return {};
  return from_stat(info);
}

file_identity identify_open(int file) {
  struct stat info;
  if (fstat(file, &info) != 0) return {};
  return from_stat(info);
}

env_status open_for_reading(const native_path& path, read_mode mode, int* file,
                            file_identity* identity) {
  // Without waiting, a pipe opens at once, with no writer, and a device
  // never becomes the controlling terminal.
  const int flags = mode == read_mode::never_block ? O_NONBLOCK | O_NOCTTY : 0;
  *file = open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (*file < 0) return last_error();
  const file_identity found = identify_open(*file);
  if (found.type == file_identity::kind::folder) {
    close(*file);
    *file = no_file;
    return env_status{EISDIR};
  }
  if (identity != nullptr) *identity = found;
  return {};
}

env_status open_for_writing(const native_path& path, write_mode mode, int* file) {
  const int flags = mode == write_mode::create_new ? O_CREAT | O_EXCL
                    : mode == write_mode::replace  ? O_CREAT | O_TRUNC
                                                   : O_CREAT | O_TRUNC | O_NOFOLLOW;
  *file = open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0666);
  return *file < 0 ? last_error() : env_status{};
}

env_status read_file(int file, unsigned char* dest, std::size_t count, std::size_t* given) {
  *given = 0;
  while (*given < count) {
    const ssize_t got = read(file, dest + *given, count - *given);
    if (got == 0) return {};
    if (got < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    *given += static_cast<std::size_t>(got);
  }
  return {};
}

env_status write_file(int file, const unsigned char* bytes, std::size_t count) {
  while (count != 0) {
    const ssize_t sent = write(file, bytes, count);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) return last_error();
    if (sent == 0) return env_status{EIO};
    bytes += sent;
    count -= static_cast<std::size_t>(sent);
  }
  return {};
}

env_status cut_file(int file, uint64_t length) {
  return ftruncate(file, static_cast<off_t>(length)) == 0 ? env_status{} : last_error();
}

env_status close_file(int file) {
  return close(file) == 0 ? env_status{} : last_error();
}

env_status list_folder(const native_path& path, std::vector<folder_entry>& entries) {
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return last_error();
  entries.clear();
  errno = 0;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    folder_entry found{native_path(name), file_identity::kind::other, entry->d_type == DT_LNK};
    switch (entry->d_type) {
      case DT_REG:
        found.type = file_identity::kind::regular;
        break;
      case DT_DIR:
        found.type = file_identity::kind::folder;
        break;
      case DT_FIFO:
      case DT_SOCK:
        found.type = file_identity::kind::pipe;
        break;
      case DT_CHR:
      case DT_BLK:
        break;
      default: {  // a link, or a file system that does not say: what it leads to
        struct stat info;
        found.type = fstatat(dirfd(folder), entry->d_name, &info, 0) == 0
                         ? kind_of(info.st_mode)
                         : file_identity::kind::none;
        if (entry->d_type == DT_UNKNOWN) {
          found.link = fstatat(dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISLNK(info.st_mode);
        }
      }
    }
    entries.push_back(std::move(found));
    errno = 0;
  }
  const env_status status = errno == 0 ? env_status{} : last_error();
  closedir(folder);
  return status;
}

env_status probe_folder(const native_path& path) {
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return last_error();
  closedir(folder);
  return {};
}

env_status make_folder(const native_path& path) {
  return mkdir(path.c_str(), 0777) == 0 ? env_status{} : last_error();
}

env_status real_path(const native_path& path, native_path* real) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return last_error();
  *real = native_path(resolved);
  std::free(resolved);
  return {};
}

}  // namespace native

const char path_separator = '/';

native_path joined_path(const native_path& folder, const native_path& name) {
  std::string path = folder.native();
  if (!path.empty() && path.back() != '/') path += '/';
  return native_path(path + name.native());
}

std::string printed_name(const native_path& name) {
  return name.native();
}

native_path native_name(const std::string& printed) {
  return native_path(printed);
}

bool same_file(const file_identity& a, const file_identity& b) {
  return a.type != file_identity::kind::none && a.type == b.type && a.volume == b.volume &&
         a.index == b.index;
}

file_identity identify_stdout() {
  return native::identify_open(STDOUT_FILENO);
}

void write_stdout(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void move_stdout_to_end() {
  std::fflush(stdout);
  lseek(STDOUT_FILENO, 0, SEEK_END);
}

bool stdout_is_terminal() {
  return isatty(STDOUT_FILENO) != 0;
}

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) != 0;
}

void write_stderr(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

unsigned processor_count() {
#ifdef __linux__
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
#endif
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

}  // namespace palfill

#endif  // !_WIN32
