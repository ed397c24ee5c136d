// How palfill opens, compares and measures the files named on its command
// line, and what it knows of its standard output. The platform's own calls
// (POSIX, or Win32 and the C runtime) live here and in file_streams.cc.
#ifndef PALFILL_DRIVER_FILES_H_
#define PALFILL_DRIVER_FILES_H_

#include <cstdint>
#include <cstdio>
#include <filesystem>

// What a name, or standard output, leads to: its kind and, for anything
// that exists, which file it is (device and inode, or volume and file
// index on Windows), so that two names or a name and an open descriptor
// can be compared.
struct file_identity {
  enum class kind { none, regular, pipe, other };  // none: nothing there, or not to be looked at
  kind type = kind::none;
  bool volume_known = false;  // Wine knows no volume for a handle it inherited
  uint64_t volume = 0;
  uint64_t index = 0;
};

// Names such as /dev/stdin count as what they lead to.
file_identity identify_path(const std::filesystem::path& path);
file_identity identify_stdout();

// True when both lead to one existing file (the same path, a hard link or
// a symbolic link; on Windows another case or slash as well).
bool same_file(const file_identity& a, const file_identity& b);
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

// Opens for binary reading, except that a directory counts as unopenable:
// reading one would only fail later, with a misleading message.
std::FILE* open_for_reading(const std::filesystem::path& path);

// Creates or truncates for binary writing.
std::FILE* open_for_writing(const std::filesystem::path& path);

// True when palfill may create or replace `output`: a file it could have
// written itself. That is one that does not exist or is not a regular file
// (a pipe, a terminal, a device: never opened here, since that could
// block), or a regular file that is empty, begins with the PNG signature,
// is shorter than it and begins as it does, or begins with one of
// palfill's own lines. Anything else, a regular file that cannot be read
// included, is someone's data, named as the output by mistake.
bool may_replace_output(const std::filesystem::path& output);

// True for a regular file, as opposed to a pipe, a terminal or a device.
bool names_regular_file(const std::filesystem::path& path);

// The size of a regular file; false for anything else.
bool regular_file_size(const std::filesystem::path& path, uint64_t& size);

// Moves standard output to the end of the file it leads to, so that a line
// written there follows what is there instead of overwriting it.
void move_stdout_to_end();

#endif  // PALFILL_DRIVER_FILES_H_
