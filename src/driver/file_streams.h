// The library's readers and writers over the files palfill opens.
#ifndef PALFILL_DRIVER_FILE_STREAMS_H_
#define PALFILL_DRIVER_FILE_STREAMS_H_

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "palfill.h"

// A stream opened for binary reading. Its length is unknown unless the
// caller knows it (a regular file's size) and says so. A read that the
// stream reports as an error fails, apart from the end of the file.
palfill_reader file_reader(std::FILE* file);
palfill_reader file_reader(std::FILE* file, uint64_t length);

// A stream opened for binary writing. The version with a path can cut back
// the regular file of that name: it flushes the stream first, so that the
// cut meets every byte written.
palfill_writer file_writer(std::FILE* file);
struct cuttable_file {
  std::FILE* file;
  std::filesystem::path path;
};
palfill_writer file_writer(cuttable_file& target);

#endif  // PALFILL_DRIVER_FILE_STREAMS_H_
