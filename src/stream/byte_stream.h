// Where palfill's core reads its bytes from and writes them to.
//
// A byte_source hands out bytes in order. read() fills up to `count` bytes
// and returns how many it gave; fewer than `count` means the source has
// ended (or failed, which counts the same), and it is not read again.
// `length_known` says whether `length`, the number of bytes it holds from
// where reading starts, is known; the PNG pass trusts it, never reading past
// it, and uses it to see a chunk cut short before writing any of its data.
//
// A byte_sink takes bytes in order. write() returns false when the bytes did
// not all arrive. cut(), where the sink has one, shortens what was written
// to its first `length` bytes; a sink without (a pipe, a terminal) cannot
// take anything back, so the PNG pass holds a chunk in memory until all of
// it has arrived when it cannot tell beforehand.
//
// Adapters over std::FILE streams and over memory come with it. Nothing here
// opens, closes or prints.
#ifndef PALFILL_STREAM_BYTE_STREAM_H_
#define PALFILL_STREAM_BYTE_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

struct byte_source {
  std::size_t (*read)(void* context, uint8_t* dest, std::size_t count);
  void* context;
  bool length_known;
  uint64_t length;
};

struct byte_sink {
  bool (*write)(void* context, const uint8_t* bytes, std::size_t count);
  bool (*cut)(void* context, uint64_t length);  // null when the sink cannot
  void* context;
};

// True when exactly `count` bytes arrived.
bool read_exactly(byte_source& source, uint8_t* dest, std::size_t count);

// A stream opened for binary reading. Its length is unknown unless the
// caller knows it (a regular file's size) and says so.
byte_source file_source(std::FILE* file);
byte_source file_source(std::FILE* file, uint64_t length);

// A stream opened for binary writing. The version with a path can cut back
// the regular file of that name: it flushes the stream first, so that the
// cut meets every byte written.
byte_sink file_sink(std::FILE* file);
struct cuttable_file {
  std::FILE* file;
  std::filesystem::path path;
};
byte_sink file_sink(cuttable_file& target);

// Bytes in memory, read from `pos` on; `length_known` false makes it behave
// as a pipe does.
struct memory_input {
  const uint8_t* bytes;
  std::size_t size;
  std::size_t pos;
};
byte_source memory_source(memory_input& input, bool length_known);

// Appends to `bytes`; `can_cut` false makes it behave as a pipe does.
byte_sink memory_sink(std::string& bytes, bool can_cut);

#endif  // PALFILL_STREAM_BYTE_STREAM_H_
