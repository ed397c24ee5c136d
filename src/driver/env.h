// What the driver asks of the platform: files and their identity, folders,
// standard output and error, the processors. One implementation for POSIX
// (env_posix.cc) and one for Windows, over Win32 and the C runtime
// (env_windows.cc); nothing else in the driver calls the platform.
//
// Calls that can fail return an env_status saying why, as LevelDB's Env
// returns a Status: nothing is left in errno for the caller to read later.
// The calls on files and folders are reached through a file_system, so
// that a test can hand the driver one whose calls fail as it chooses;
// native_files() is the platform's own.
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
native_path joined_path(const native_path& folder, const native_path& name);

// The name as palfill prints it: the bytes on POSIX, UTF-8 on Windows;
// and back.
std::string printed_name(const native_path& name);
native_path native_name(const std::string& printed);

// How a call ended: 0 when it worked, otherwise why it failed, as an errno
// value (on Windows, the one the C runtime gives the system's error).
struct env_status {
  int error = 0;
  bool ok() const { return error == 0; }
};

// What a name, an open file or standard output leads to: its kind and, for
// anything that exists, which file it is (device and inode, or volume and
// file index on Windows), so that two of them can be compared.
struct file_identity {
  // none: nothing there; link: a symbolic link or a junction, asked about
  // as itself; other: a device.
  enum class kind { none, regular, folder, pipe, link, other };
  kind type = kind::none;
  bool volume_known = false;  // Wine knows no volume for a handle it inherited
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t size = 0;  // of a regular file
};

// True when both lead to one existing file (the same path, a hard link or
// a symbolic link; on Windows another case or slash as well).
bool same_file(const file_identity& a, const file_identity& b);

// A folder's entry: its name, what it leads to (links followed; none for a
// link to nothing) and whether it is a link itself.
struct folder_entry {
  native_path name;
  file_identity::kind type;
  bool link;
};

enum class read_mode {
  wait,         // as palfill reads: a pipe is read as it comes
  never_block,  // as palfill-tree reads: opening a pipe or a device never waits
};

enum class write_mode {
  create_new,          // a file where nothing is, not even a link
  replace,             // create or truncate, following a link, as palfill writes
  replace_unfollowed,  // the same, but a link is refused (ELOOP)
};

constexpr int no_file = -1;

// The calls on files and folders. Files are descriptors of the C runtime.
struct file_system {
  // Names such as /dev/stdin count as what they lead to; so do links.
  file_identity (*identify)(const native_path& path);
  // A link as itself (kind link), anything else as identify() sees it.
  file_identity (*identify_unfollowed)(const native_path& path);
  file_identity (*identify_open)(int file);
  // Opens for binary reading; a folder counts as unopenable (EISDIR),
  // since reading one would only fail later with a misleading message.
  // `identity`, when given, gets the open file's.
  env_status (*open_for_reading)(const native_path& path, read_mode mode, int* file,
                                 file_identity* identity);
  env_status (*open_for_writing)(const native_path& path, write_mode mode, int* file);
  // Reads until `count` bytes have arrived or the file ends; *given is how
  // many did. A failure is not the end of the file.
  env_status (*read)(int file, unsigned char* dest, std::size_t count, std::size_t* given);
  // Writes all `count` bytes.
  env_status (*write)(int file, const unsigned char* bytes, std::size_t count);
  // Shortens a regular file to its first `length` bytes.
  env_status (*cut)(int file, uint64_t length);
  // Closes; a failure is an error closing met (a write the disk refused late).
  env_status (*close)(int file);
  // A folder's entries, "." and ".." left out, in the order the platform
  // gives them.
  env_status (*list_folder)(const native_path& path, std::vector<folder_entry>& entries);
  // Opens the folder and closes it again: whether it can be listed, without
  // holding its entries.
  env_status (*probe_folder)(const native_path& path);
  // Makes one folder; EEXIST when something is there.
  env_status (*make_folder)(const native_path& path);
  // The path with every link resolved, absolute.
  env_status (*real_path)(const native_path& path, native_path* real);
};

const file_system& native_files();

// Standard output as a file, for telling whether a name is where it leads.
file_identity identify_stdout();

// Writes `text` to standard output as the platform writes text: a Windows
// console gets it in wide characters, so that every name shows whatever
// its code page; files and pipes get the bytes (UTF-8 on Windows, with
// CRLF, since standard output stays in text mode there). Adds nothing.
void write_stdout(const std::string& text);

// Moves standard output to the end of the file it leads to, so that a line
// written there follows what is there instead of overwriting it.
void move_stdout_to_end();

// Whether standard output and error are terminals, where a progress line
// is redrawn in place and the end of a run is shown.
bool stdout_is_terminal();
bool stderr_is_terminal();

// Writes `text` to standard error at once, as write_stdout() would.
void write_stderr(const std::string& text);

// The processors this process may run on.
unsigned processor_count();

}  // namespace palfill

#endif  // PALFILL_DRIVER_ENV_H_
