// The driver's platform on POSIX systems (see env.h).
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "env.h"

namespace palfill {
namespace {

file_identity from_stat(const struct stat& info) {
  file_identity identity;
  identity.type = S_ISREG(info.st_mode)                              ? file_identity::kind::regular
                  : S_ISDIR(info.st_mode)                            ? file_identity::kind::folder
                  : S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) ? file_identity::kind::pipe
                                                                     : file_identity::kind::other;
  identity.volume_known = true;
  identity.volume = static_cast<uint64_t>(info.st_dev);
  identity.index = static_cast<uint64_t>(info.st_ino);
  if (S_ISREG(info.st_mode)) identity.size = static_cast<uint64_t>(info.st_size);
  return identity;
}

}  // namespace

const char path_separator = '/';

native_path joined(const native_path& folder, const native_path& name) {
  std::string path = folder.native();
  if (!path.empty() && path.back() != '/') path += '/';
  return native_path(path + name.native());
}

std::string printed_name(const native_path& name) {
  return name.native();
}

file_identity identify_path(const native_path& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return {};
  return from_stat(info);
}

file_identity identify_open_file(int file) {
  struct stat info;
  if (fstat(file, &info) != 0) return {};
  return from_stat(info);
}

file_identity identify_stdout() {
  return identify_open_file(STDOUT_FILENO);
}

bool same_file(const file_identity& a, const file_identity& b) {
  return a.type != file_identity::kind::none && a.type == b.type && a.volume == b.volume &&
         a.index == b.index;
}

int open_for_reading(const native_path& path, file_identity* identity) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return no_file;
  const file_identity found = identify_open_file(file);
  if (found.type == file_identity::kind::folder) {
    close(file);
    errno = EISDIR;
    return no_file;
  }
  if (identity != nullptr) *identity = found;
  return file;
}

int open_for_writing(const native_path& path) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return file < 0 ? no_file : file;
}

int create_for_writing(const native_path& path) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return file < 0 ? no_file : file;
}

bool read_from(int file, unsigned char* dest, std::size_t count, std::size_t* given) {
  *given = 0;
  while (*given < count) {
    const ssize_t got = read(file, dest + *given, count - *given);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    *given += static_cast<std::size_t>(got);
  }
  return true;
}

bool write_to(int file, const unsigned char* bytes, std::size_t count) {
  while (count != 0) {
    const ssize_t sent = write(file, bytes, count);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    count -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool cut_file(int file, uint64_t length) {
  return ftruncate(file, static_cast<off_t>(length)) == 0;
}

bool close_file(int file) {
  return close(file) == 0;
}

bool list_folder(const native_path& path, std::vector<folder_entry>& entries) {
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return false;
  entries.clear();
  errno = 0;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool is_folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {  // what it leads to
      struct stat info;
      is_folder = fstatat(dirfd(folder), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
    }
    entries.push_back(folder_entry{native_path(name), is_folder});
    errno = 0;
  }
  const bool complete = errno == 0;
  closedir(folder);
  return complete;
}

void print_line(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void move_stdout_to_end() {
  std::fflush(stdout);
  lseek(STDOUT_FILENO, 0, SEEK_END);
}

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) != 0;
}

void print_to_terminal(const std::string& text) {
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
