// How palfill opens and compares the files named on its command line.
#ifndef PALFILL_DRIVER_FILES_H_
#define PALFILL_DRIVER_FILES_H_

#include <cstdio>

// fopen(path, "rb"), except that a directory counts as unopenable: reading
// one would only fail later, with a misleading message.
std::FILE* open_for_reading(const char* path);

// True when both paths name one existing file (the same path, a hard link
// or a symbolic link); the files are compared, not the strings.
bool same_file(const char* a, const char* b);

#endif  // PALFILL_DRIVER_FILES_H_
