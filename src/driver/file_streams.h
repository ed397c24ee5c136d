// The library's readers and writers over the files the driver opens.
#ifndef PALFILL_DRIVER_FILE_STREAMS_H_
#define PALFILL_DRIVER_FILE_STREAMS_H_

#include <atomic>
#include <cstdint>

#include "env.h"
#include "palfill.h"

namespace palfill {

// An open file, the calls that reach it, and the reason (an errno value)
// its last read, write or cut failed, for the caller to pass on; it must
// outlive the reader or writer. Once `stop` is set, reading fails (EINTR),
// so that a run told to stop leaves what an interrupted palfill leaves.
struct stream_file {
  const file_system* files;
  const std::atomic<bool>* stop = nullptr;
  int file = no_file;
  int failure = 0;
};

// Reads `source`. Its length is unknown unless the caller knows it (a
// regular file's size) and says so. A read that fails is a failure, apart
// from the end of the file.
palfill_reader file_reader(stream_file& source);
palfill_reader file_reader(stream_file& source, uint64_t length);

// Writes `target`; `can_cut` for a regular file, which can be cut back.
palfill_writer file_writer(stream_file& target, bool can_cut);

}  // namespace palfill

#endif  // PALFILL_DRIVER_FILE_STREAMS_H_
