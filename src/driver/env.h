// What the driver asks of the platform: files and their identity, folders,
// standard output and error, the processors. One implementation for POSIX
// (env_posix.cc) and one for Windows, over Win32 and the C runtime
// (env_windows.cc); nothing else in the driver calls the platform.
//
// Files are descriptors of the C runtime. Failed calls leave the reason in
// errno, as the C runtime does on both platforms.
#ifndef PALFILL_DRIVER_ENV_H_
#define PALFILL_DRIVER_ENV_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace palfill {

// A name as the platform's calls take it: bytes on POSIX, UTF-16 on Windows.
using native_path = std::filesystem::path;

// The separator palfill puts between a folder and a name: '/', or '\' on Windows.
extern const char path_separator;

// `folder` and `name` joined by the separator; `folder` as given, so a
// name typed with a trailing separator keeps it.
native_path joined(const native_path& folder, const native_path& name);

// The name as palfill prints it: the bytes on POSIX, UTF-8 on Windows.
std::string printed_name(const native_path& name);

// What a name, an open file or standard output leads to: its kind and, for
// anything that exists, which file it is (device and inode, or volume and
// file index on Windows), so that two of them can be compared.
struct file_identity {
  enum class kind { none, regular, folder, pipe, other };  // none: nothing there
  kind type = kind::none;
  bool volume_known = false;  // Wine knows no volume for a handle it inherited
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t size = 0;  // of a regular file
};

// Names such as /dev/stdin count as what they lead to; so do links.
file_identity identify_path(const native_path& path);
file_identity identify_open_file(int file);
file_identity identify_stdout();

// True when both lead to one existing file (the same path, a hard link or
// a symbolic link; on Windows another case or slash as well).
bool same_file(const file_identity& a, const file_identity& b);

constexpr int no_file = -1;

// Opens for binary reading, or gives no_file; a folder counts as
// unopenable (errno EISDIR), since reading one would only fail later with
// a misleading message. `identity`, when given, gets the open file's.
int open_for_reading(const native_path& path, file_identity* identity = nullptr);

// Creates or truncates for binary writing, or gives no_file.
int open_for_writing(const native_path& path);

// Creates for binary writing a file that does not exist yet, or gives
// no_file (errno EEXIST when something is there, a link included).
int create_for_writing(const native_path& path);

// Reads until `count` bytes have arrived or the file ends; *given is how
// many did. False when reading failed (errno says why), which is not the
// end of the file.
bool read_from(int file, unsigned char* dest, std::size_t count, std::size_t* given);

// Writes all `count` bytes; false when they did not all go.
bool write_to(int file, const unsigned char* bytes, std::size_t count);

// Shortens a regular file to its first `length` bytes.
bool cut_file(int file, uint64_t length);

// Closes; false when closing met an error (a write the disk refused late).
bool close_file(int file);

// A folder's entries, "." and ".." left out, in the order the platform
// gives them. `folder` is true for a folder or a link to one; anything
// else, a broken link included, is a file.
struct folder_entry {
  native_path name;
  bool folder;
};
bool list_folder(const native_path& path, std::vector<folder_entry>& entries);

// Writes `line` to standard output as the platform writes text: a Windows
// console gets it in wide characters, so that every name shows whatever
// its code page; files and pipes get the bytes (UTF-8 on Windows, with
// CRLF, since standard output stays in text mode there).
void print_line(const std::string& line);

// Moves standard output to the end of the file it leads to, so that a line
// written there follows what is there instead of overwriting it.
void move_stdout_to_end();

// Standard error as a terminal, for a progress line that is redrawn in
// place; `text` goes there as print_line() would put it.
bool stderr_is_terminal();
void print_to_terminal(const std::string& text);

// The processors this process may run on.
unsigned processor_count();

}  // namespace palfill

#endif  // PALFILL_DRIVER_ENV_H_
