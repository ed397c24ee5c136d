#include "png/chunk_pass.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "format/byte_order.h"
#include "format/crc32.h"
#include "format/png_signature.h"

namespace palfill {
namespace {

constexpr std::size_t chunk_header_size = 8;
constexpr std::size_t ihdr_look_ahead = 13;
constexpr std::size_t max_palette_entries = 256;
// The smallest block still holds an IHDR header and the bytes looked at after it.
constexpr std::size_t min_block_size = 32;
// Kept free ahead of the bytes read, so that the palette chunks go in right
// where they belong and cost no write of their own.
constexpr std::size_t palette_room = max_palette_chunks_size;
// Doubling a held chunk's window never overflows size_t, on 32 bits too.
constexpr std::size_t max_block_size = std::numeric_limits<std::size_t>::max() / 2;

struct run_state {
  int bit_depth = 0;
  int colour_type = -1;  // no IHDR seen
  bool palette_present = false;
};

// The input as far as it has been read. Bytes before `begin` are written;
// those from `begin` to `pos` are parsed and wait to be written; those from
// `pos` to `end` are read and not parsed yet. `begin` never falls below
// `palette_room` until the palette chunks have gone in.
struct window {
  uint8_t* bytes;
  std::size_t capacity;
  std::size_t begin;
  std::size_t pos;
  std::size_t end;
};

struct pass {
  byte_source& in;
  byte_sink& out;
  window w;
  uint64_t read_total;  // bytes `in` has given
  uint64_t written;     // bytes `out` has taken
  bool input_ended;
};

// Empty while the pass goes on; otherwise the result it ends with.
using pass_end = std::optional<pass_result>;
constexpr pass_end go_on = std::nullopt;

bool flush_to(pass& p, std::size_t upto) {
  const std::size_t count = upto - p.w.begin;
  if (count != 0 && !p.out.write(p.out.context, p.w.bytes + p.w.begin, count)) return false;
  p.w.begin = upto;
  p.written += count;
  return true;
}

// What `in` may still give; a known length is never read past.
uint64_t still_readable(const pass& p) {
  if (!p.in.length_known) return UINT64_MAX;
  return p.in.length > p.read_total ? p.in.length - p.read_total : 0;
}

// Fills the free space at the window's end. A short read or a failed one
// ends the input, and so does reaching a known length: no write need wait
// for a read that could only find nothing.
void read_more(pass& p) {
  const auto want =
      static_cast<std::size_t>(std::min<uint64_t>(p.w.capacity - p.w.end, still_readable(p)));
  const std::size_t got = want == 0 ? 0 : read_some(p.in, p.w.bytes + p.w.end, want);
  p.w.end += got;
  p.read_total += got;
  p.input_ended = got < want || p.in.failed || still_readable(p) == 0;
}

// Grows the window until `need` bytes fit after the palette room, at most
// doubling it each time, so that memory follows the bytes that arrive.
bool grow_for(window& w, uint64_t need) {
  const std::size_t usable = w.capacity - palette_room;
  if (need <= usable) return true;
  const uint64_t target = std::min<uint64_t>(need, uint64_t{usable} * 2);
  if (target > std::numeric_limits<std::size_t>::max() - palette_room) return false;
  const std::size_t capacity = palette_room + static_cast<std::size_t>(target);
  auto* grown = static_cast<uint8_t*>(std::realloc(w.bytes, capacity));
  if (grown == nullptr) return false;
  w.bytes = grown;
  w.capacity = capacity;
  return true;
}

// Writes what waits before `keep`, moves the bytes from `keep` on to the
// front and makes the window hold `need` bytes from there.
pass_end make_room(pass& p, std::size_t keep, uint64_t need) {
  if (!flush_to(p, keep)) return pass_result::write_failed;
  window& w = p.w;
  const std::size_t kept = w.end - keep;
  // A held chunk already stands at the front after its first refill.
  if (keep != palette_room) std::memmove(w.bytes + palette_room, w.bytes + keep, kept);
  w.pos = palette_room + (w.pos - keep);
  w.begin = palette_room;
  w.end = palette_room + kept;
  if (!grow_for(w, need)) return pass_result::out_of_memory;
  return go_on;
}

// Makes `count` bytes readable at `pos`, which stands at a chunk boundary.
// When the input ends first, the output gets every chunk before `pos`.
pass_end need_at_boundary(pass& p, std::size_t count) {
  while (p.w.end - p.w.pos < count) {
    if (p.input_ended) {
      flush_to(p, p.w.pos);  // the input's end is the failure to report, not this write
      return pass_result::unexpected_eof;
    }
    if (const pass_end end = make_room(p, p.w.pos, 0)) return end;
    read_more(p);
  }
  return go_on;
}

// A chunk cut short: the output ends with its header, whose last byte is at
// output offset `header_end` - 1, and none of its data.
pass_result end_at_header(pass& p, uint64_t header_end) {
  if (p.written <= header_end) {
    flush_to(p, p.w.begin + static_cast<std::size_t>(header_end - p.written));
    return pass_result::unexpected_eof;
  }
  // Data went out already. Without a cut this is a source that held less
  // than its length said, which nothing can mend now.
  if (p.out.cut != nullptr && !p.out.cut(p.out.context, header_end)) {
    return pass_result::write_failed;
  }
  return pass_result::unexpected_eof;
}

// Copies the data and CRC of the chunk whose header ends at `pos`.
pass_end copy_body(pass& p, uint64_t body_size) {
  window& w = p.w;
  const uint64_t header_end = p.written + (w.pos - w.begin);
  if (p.in.length_known && (w.end - w.pos) + still_readable(p) < body_size) {
    return end_at_header(p, header_end);
  }
  // Neither known to be complete nor undoable: the chunk waits in memory.
  const bool hold = !p.in.length_known && p.out.cut == nullptr;
  // A source of known length can still fail part way; into a sink that
  // cannot cut, a chunk that fits in the block waits there too, so that
  // only a longer one can leave part of its data behind.
  const bool keep_if_it_fits = p.out.cut == nullptr;
  std::size_t held_from = w.pos;
  uint64_t left = body_size;
  for (;;) {
    const auto here = static_cast<std::size_t>(std::min<uint64_t>(left, w.end - w.pos));
    w.pos += here;
    left -= here;
    if (left == 0) return go_on;
    if (p.input_ended) return end_at_header(p, header_end);
    const bool fits = (w.pos - held_from) + left <= w.capacity - palette_room;
    const std::size_t keep = hold || (keep_if_it_fits && fits) ? held_from : w.pos;
    if (const pass_end end = make_room(p, keep, hold ? (w.pos - keep) + left : 0)) return end;
    held_from = palette_room;
    read_more(p);
  }
}

bool needs_palette(const run_state& state) {
  return !state.palette_present && state.colour_type == 3 && state.bit_depth <= 8;
}

// Puts the palette chunks right before the IDAT header at `pos`, moving the
// bytes that wait to be written into the room kept ahead of them.
void insert_palette(window& w, const rgba_entry* table, uint32_t palette_size) {
  uint8_t chunks[max_palette_chunks_size];
  const std::size_t size = emit_palette_chunks(table, palette_size, chunks);
  std::memmove(w.bytes + w.begin - size, w.bytes + w.begin, w.pos - w.begin);
  w.begin -= size;
  std::memcpy(w.bytes + w.pos - size, chunks, size);
}

bool has_type(const uint8_t* header, const char* type) {
  return std::memcmp(header + 4, type, 4) == 0;
}

pass_result run_pass(pass& p, const rgba_entry* table) {
  window& w = p.w;
  if (const pass_end end = need_at_boundary(p, sizeof png_signature)) return *end;
  if (std::memcmp(w.bytes + w.pos, png_signature, sizeof png_signature) != 0) {
    return pass_result::not_png;
  }
  w.pos += sizeof png_signature;

  run_state state;
  for (;;) {
    if (const pass_end end = need_at_boundary(p, chunk_header_size)) return *end;
    uint8_t header[chunk_header_size];
    std::memcpy(header, w.bytes + w.pos, chunk_header_size);
    if (has_type(header, "IHDR")) {
      // Bit depth and colour type are bytes 8 and 9 after the header,
      // whatever the length field says.
      if (const pass_end end = need_at_boundary(p, chunk_header_size + ihdr_look_ahead)) {
        return *end;
      }
      state.bit_depth = w.bytes[w.pos + chunk_header_size + 8];
      state.colour_type = w.bytes[w.pos + chunk_header_size + 9];
    } else if (has_type(header, "PLTE")) {
      state.palette_present = true;
    } else if (has_type(header, "IDAT") && needs_palette(state)) {
      insert_palette(w, table, 1u << state.bit_depth);
      state.palette_present = true;
    }
    w.pos += chunk_header_size;
    if (const pass_end end = copy_body(p, uint64_t{get_be32(header)} + 4)) return *end;
    if (has_type(header, "IEND")) {
      return flush_to(p, w.pos) ? pass_result::finished : pass_result::write_failed;
    }
  }
}

// Completes the chunk whose type and data stand at dest + 4: its length
// before them and its CRC after. Returns the chunk's whole size.
std::size_t frame_chunk(uint8_t* dest, uint32_t data_length) {
  put_be32(data_length, dest);
  put_be32(crc32(dest + 4, 4 + std::size_t{data_length}), dest + 8 + data_length);
  return 12 + std::size_t{data_length};
}

}  // namespace

std::size_t emit_palette_chunks(const rgba_entry* table, uint32_t palette_size, uint8_t* dest) {
  palette_size = std::min<uint32_t>(palette_size, max_palette_entries);
  std::memcpy(dest + 4, "PLTE", 4);
  bool all_opaque = true;
  for (uint32_t i = 0; i < palette_size; ++i) {
    dest[8 + 3 * i] = table[i].red;
    dest[9 + 3 * i] = table[i].green;
    dest[10 + 3 * i] = table[i].blue;
    all_opaque = all_opaque && table[i].alpha == 255;
  }
  const std::size_t plte_size = frame_chunk(dest, 3 * palette_size);
  if (all_opaque) return plte_size;
  uint8_t* trns = dest + plte_size;
  std::memcpy(trns + 4, "tRNS", 4);
  for (uint32_t i = 0; i < palette_size; ++i) trns[8 + i] = table[i].alpha;
  return plte_size + frame_chunk(trns, palette_size);
}

pass_result convert_png(byte_source& in, byte_sink& out, const rgba_entry* table,
                        std::size_t block_size) {
  block_size = std::min(std::max(block_size, min_block_size), max_block_size);
  const std::size_t capacity = palette_room + block_size;
  auto* bytes = static_cast<uint8_t*>(std::malloc(capacity));
  if (bytes == nullptr) return pass_result::out_of_memory;
  pass p{in, out, window{bytes, capacity, palette_room, palette_room, palette_room}, 0, 0, false};
  const pass_result result = run_pass(p, table);
  std::free(p.w.bytes);
  // An input that could not be read is not one that ended early, nor a
  // whole one: whatever the bytes it gave made of the pass, it failed.
  if (in.failed) return pass_result::read_failed;
  return result;
}

}  // namespace palfill
