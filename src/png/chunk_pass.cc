#include "png/chunk_pass.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "driver/messages.h"

namespace {

constexpr uint8_t png_signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr std::size_t chunk_header_size = 8;
constexpr std::size_t ihdr_look_ahead = 13;
constexpr std::size_t max_palette_entries = 256;
// A chunk whose length the input is not known to cover is buffered in
// steps that start here and double, so memory follows the bytes that arrive.
constexpr std::size_t first_growth_step = 64 * 1024;

struct run_state {
  int bit_depth = 0;
  int colour_type = -1;  // no IHDR seen
  bool palette_present = false;
};

// The input as the pass consumes it: the IHDR bytes looked at ahead of
// copying are handed back here and read again before the file.
struct chunk_source {
  std::FILE* file;
  uint8_t held[ihdr_look_ahead];
  std::size_t held_pos;
  std::size_t held_len;
  uint64_t file_left;  // bytes a seekable file is known to hold past the read position
};

// Measures what a seekable input holds; a pipe reports nothing and its
// chunks are buffered as they arrive.
chunk_source start_source(std::FILE* file) {
  chunk_source source{file, {}, 0, 0, 0};
  const long start = std::ftell(file);
  if (start < 0 || std::fseek(file, 0, SEEK_END) != 0) return source;
  const long end = std::ftell(file);
  if (std::fseek(file, start, SEEK_SET) == 0 && end > start) {
    source.file_left = static_cast<uint64_t>(end - start);
  }
  return source;
}

std::size_t read_bytes(chunk_source& source, uint8_t* dest, std::size_t count) {
  std::size_t got = std::min(count, source.held_len - source.held_pos);
  std::memcpy(dest, source.held + source.held_pos, got);
  source.held_pos += got;
  if (got < count) {
    const std::size_t from_file = std::fread(dest + got, 1, count - got, source.file);
    source.file_left -= std::min<uint64_t>(source.file_left, from_file);
    got += from_file;
  }
  return got;
}

void read_exactly_or_die(chunk_source& source, uint8_t* dest, std::size_t count) {
  if (read_bytes(source, dest, count) < count) die_unexpected_eof();
}

uint64_t known_available(const chunk_source& source) {
  return source.held_len - source.held_pos + source.file_left;
}

enum class body_read { complete, short_input, too_large };

// Reads `count` bytes into a fresh malloc'd buffer that ends exactly
// `count` bytes long. Fails without keeping any buffer.
body_read read_chunk_body(chunk_source& source, uint64_t count, uint8_t*& body) {
  body = nullptr;
  if (count > SIZE_MAX) return body_read::too_large;
  const std::size_t size = static_cast<std::size_t>(count);
  std::size_t capacity =
      known_available(source) >= count ? size : std::min(size, first_growth_step);
  std::size_t filled = 0;
  for (;;) {
    auto* grown = static_cast<uint8_t*>(std::realloc(body, capacity));
    if (grown == nullptr) {
      std::free(body);
      body = nullptr;
      return body_read::too_large;
    }
    body = grown;
    filled += read_bytes(source, body + filled, capacity - filled);
    if (filled < capacity) {
      std::free(body);
      body = nullptr;
      return body_read::short_input;
    }
    if (capacity == size) return body_read::complete;
    capacity = size - capacity > capacity ? capacity * 2 : size;
  }
}

bool write_bytes(std::FILE* out, const uint8_t* bytes, std::size_t count) {
  return std::fwrite(bytes, 1, count, out) == count;
}

// Writes the header, then the chunk's data and CRC read from the input;
// `finished` here means that this chunk is copied.
pass_result copy_chunk(chunk_source& source, std::FILE* out, const uint8_t* header,
                       uint32_t length) {
  if (!write_bytes(out, header, chunk_header_size)) return pass_result::write_failed;
  uint8_t* body = nullptr;
  const uint64_t body_size = uint64_t{length} + 4;
  switch (read_chunk_body(source, body_size, body)) {
    case body_read::short_input:
      die_unexpected_eof();
    case body_read::too_large:
      return pass_result::chunk_too_large;
    case body_read::complete:
      break;
  }
  const bool written = write_bytes(out, body, static_cast<std::size_t>(body_size));
  std::free(body);
  return written ? pass_result::finished : pass_result::write_failed;
}

bool has_type(const uint8_t* header, const char* type) {
  return std::memcmp(header + 4, type, 4) == 0;
}

// Notes the bit depth and colour type, then hands the 13 bytes back so that
// the chunk is copied whole, whatever its length field says.
void look_ahead_ihdr(chunk_source& source, run_state& state) {
  uint8_t ihdr[ihdr_look_ahead];
  read_exactly_or_die(source, ihdr, ihdr_look_ahead);
  state.bit_depth = ihdr[8];
  state.colour_type = ihdr[9];
  // The look-ahead consumed any bytes held before it, so the slot is free.
  std::memcpy(source.held, ihdr, ihdr_look_ahead);
  source.held_pos = 0;
  source.held_len = ihdr_look_ahead;
}

bool needs_palette(const run_state& state) {
  return !state.palette_present && state.colour_type == 3 && state.bit_depth <= 8;
}

// `chunk` holds the 4 type bytes followed by `data_length` data bytes.
bool write_built_chunk(std::FILE* out, const uint8_t* chunk, uint32_t data_length) {
  return put_be32(data_length, out) && write_bytes(out, chunk, 4 + std::size_t{data_length}) &&
         put_be32(chunk_crc(chunk, 4 + std::size_t{data_length}), out);
}

constexpr std::array<uint32_t, 256> build_crc_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> crc_table = build_crc_table();

}  // namespace

uint32_t chunk_crc(const uint8_t* data, std::size_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < count; ++i) crc = crc_table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

bool put_be32(uint32_t value, std::FILE* out) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return write_bytes(out, bytes, 4);
}

uint32_t get_be32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
         uint32_t{bytes[3]};
}

bool emit_palette_chunks(std::FILE* out, const palette_table& table, uint32_t palette_size) {
  palette_size = std::min<uint32_t>(palette_size, max_palette_entries);
  uint8_t chunk[4 + 3 * max_palette_entries];
  std::memcpy(chunk, "PLTE", 4);
  bool all_opaque = true;
  for (uint32_t i = 0; i < palette_size; ++i) {
    chunk[4 + 3 * i] = table[i].red;
    chunk[5 + 3 * i] = table[i].green;
    chunk[6 + 3 * i] = table[i].blue;
    all_opaque = all_opaque && table[i].alpha == 255;
  }
  if (!write_built_chunk(out, chunk, 3 * palette_size)) return false;
  if (all_opaque) return true;
  std::memcpy(chunk, "tRNS", 4);
  for (uint32_t i = 0; i < palette_size; ++i) chunk[4 + i] = table[i].alpha;
  return write_built_chunk(out, chunk, palette_size);
}

pass_result convert_png(std::FILE* in, std::FILE* out, const palette_table& table) {
  chunk_source source = start_source(in);
  uint8_t signature[sizeof png_signature];
  read_exactly_or_die(source, signature, sizeof signature);
  if (std::memcmp(signature, png_signature, sizeof signature) != 0) {
    print_not_png();
    return pass_result::not_png;
  }
  if (!write_bytes(out, signature, sizeof signature)) return pass_result::write_failed;

  run_state state;
  for (;;) {
    uint8_t header[chunk_header_size];
    read_exactly_or_die(source, header, chunk_header_size);
    if (has_type(header, "IHDR")) {
      look_ahead_ihdr(source, state);
    } else if (has_type(header, "PLTE")) {
      state.palette_present = true;
    } else if (has_type(header, "IDAT") && needs_palette(state)) {
      if (!emit_palette_chunks(out, table, 1u << state.bit_depth)) return pass_result::write_failed;
      state.palette_present = true;
    }
    const pass_result copied = copy_chunk(source, out, header, get_be32(header));
    if (copied != pass_result::finished || has_type(header, "IEND")) return copied;
  }
}
