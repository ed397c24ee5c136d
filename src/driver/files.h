// How palfill opens, compares and measures the files named on its command
// line.
#ifndef PALFILL_DRIVER_FILES_H_
#define PALFILL_DRIVER_FILES_H_

#include <cstdint>
#include <cstdio>
#include <filesystem>

// Opens for binary reading, except that a directory counts as unopenable:
// reading one would only fail later, with a misleading message.
std::FILE* open_for_reading(const std::filesystem::path& path);

// Creates or truncates for binary writing.
std::FILE* open_for_writing(const std::filesystem::path& path);

// True when both paths name one existing file (the same path, a hard link
// or a symbolic link); the files are compared, not the strings.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

// True for a regular file, as opposed to a pipe, a terminal or a device.
// Names such as /dev/stdin count as what they lead to.
bool names_regular_file(const std::filesystem::path& path);

// The size of a regular file; false for anything else.
bool regular_file_size(const std::filesystem::path& path, uint64_t& size);

// When standard output is the regular file that `output` names (as with
// `palfill in.png /dev/stdout > out.png`), moves standard output to that
// file's end, so that the line follows the image instead of overwriting
// its first bytes. Anything else on standard output is left as it is.
void move_stdout_past_output(const std::filesystem::path& output);

#endif  // PALFILL_DRIVER_FILES_H_
