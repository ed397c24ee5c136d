// Where palfill's core reads its bytes from and writes them to.
//
// A byte_source hands out bytes in order. read() gives up to `count` bytes
// and returns how many it gave; fewer than `count` means the source has
// ended. It has failed when it sets *failed (a disk error, say, which is
// not the end of the file), even when it gave all `count` bytes. Either
// way it is not read again. Bytes it gave before failing count as read.
// `length_known` says whether `length`, the number of bytes it holds from
// where reading starts, is known; the PNG pass trusts it, never reading
// past it, and uses it to see a chunk cut short before writing any of its
// data.
//
// A byte_sink takes bytes in order. write() returns false when the bytes did
// not all arrive. cut(), where the sink has one, shortens what was written
// to its first `length` bytes; a sink without (a pipe, a terminal) cannot
// take anything back, so the PNG pass holds a chunk in memory until all of
// it has arrived when it cannot tell beforehand.
//
// Adapters over memory come with it; those over files belong to whoever
// opens them. Nothing here opens, closes or prints.
#ifndef PALFILL_STREAM_BYTE_STREAM_H_
#define PALFILL_STREAM_BYTE_STREAM_H_

#include <cstddef>
#include <cstdint>

namespace palfill {

struct byte_source {
  std::size_t (*read)(void* context, uint8_t* dest, std::size_t count, bool* failed);
  void* context;
  bool length_known;
  uint64_t length;
  bool failed;  // a read has failed; read_some() keeps it
};

struct byte_sink {
  bool (*write)(void* context, const uint8_t* bytes, std::size_t count);
  bool (*cut)(void* context, uint64_t length);  // null when the sink cannot
  void* context;
};

// Every read goes through here, so that a failure is never lost and a
// source that failed is never read again (it then gives nothing).
std::size_t read_some(byte_source& source, uint8_t* dest, std::size_t count);

// True when exactly `count` bytes arrived.
bool read_exactly(byte_source& source, uint8_t* dest, std::size_t count);

// Bytes in memory, read from `pos` on; `length_known` false makes it behave
// as a pipe does.
struct memory_input {
  const uint8_t* bytes;
  std::size_t size;
  std::size_t pos;
};
byte_source memory_source(memory_input& input, bool length_known);

// Into `capacity` bytes that the caller owns: a write past them fails. It
// cannot be cut: its source is memory too, whose length the pass knows, so
// no chunk's data goes out before all of it is there.
struct memory_output {
  uint8_t* bytes;
  std::size_t capacity;
  std::size_t size;
};
byte_sink memory_output_sink(memory_output& output);

// Counts what would be written and forgets the bytes: the size an output
// will have, before there is room for it.
byte_sink counting_sink(uint64_t& size);

}  // namespace palfill

#endif  // PALFILL_STREAM_BYTE_STREAM_H_
