#include "png_builder.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "format/crc32.h"

using namespace palfill;

std::string be16_bytes(uint16_t value) {
  return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string be32_bytes(uint32_t value) {
  return be16_bytes(static_cast<uint16_t>(value >> 16)) +
         be16_bytes(static_cast<uint16_t>(value & 0xFFFF));
}

std::string png_signature_bytes() {
  return std::string("\x89PNG\r\n\x1a\n", 8);
}

std::string png_chunk(const std::string& type, const std::string& data) {
  const std::string covered = type + data;
  const uint32_t crc = crc32(reinterpret_cast<const uint8_t*>(covered.data()), covered.size());
  return be32_bytes(static_cast<uint32_t>(data.size())) + covered + be32_bytes(crc);
}

std::string ihdr_data(uint32_t width, uint32_t height, uint8_t bit_depth, uint8_t colour_type) {
  // compression 0, filter 0, no interlace
  return be32_bytes(width) + be32_bytes(height) +
         std::string{static_cast<char>(bit_depth), static_cast<char>(colour_type), 0, 0, 0};
}

std::string raw_rows(uint32_t width, uint32_t height, uint32_t bits_per_pixel,
                     const index_at_fn& sample_at) {
  const uint64_t row_bytes = (uint64_t{width} * bits_per_pixel + 7) / 8;
  std::string raw;
  raw.reserve(static_cast<std::size_t>((row_bytes + 1) * height));
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    std::string row(static_cast<std::size_t>(row_bytes), '\0');
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t sample = sample_at(x, y);
      for (uint32_t b = 0; b < bits_per_pixel; ++b) {
        const uint32_t from_low = bits_per_pixel - 1 - b;  // samples wider than 32 bits get zeros
        if (from_low >= 32 || ((sample >> from_low) & 1u) == 0) continue;
        const uint64_t bit = uint64_t{x} * bits_per_pixel + b;
        row[bit / 8] = static_cast<char>(row[bit / 8] | (0x80 >> (bit % 8)));
      }
    }
    raw += row;
  }
  return raw;
}

namespace {

uint32_t adler32(const std::string& bytes) {
  uint32_t a = 1, b = 0;
  for (unsigned char c : bytes) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

}  // namespace

std::string zlib_stored(const std::string& raw) {
  std::string out("\x78\x01", 2);
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(raw.size() - pos, 65535);
    const bool last = pos + n == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>(n >> 8));
    out.push_back(static_cast<char>(~n & 0xFF));
    out.push_back(static_cast<char>((~n >> 8) & 0xFF));
    out.append(raw, pos, n);
    pos += n;
  } while (pos < raw.size());
  return out + be32_bytes(adler32(raw));
}

std::string idat_chunks(const std::string& stream, int idat_count) {
  const std::size_t part = stream.size() / static_cast<std::size_t>(std::max(idat_count, 1)) + 1;
  std::string chunks;
  for (std::size_t pos = 0; pos < stream.size(); pos += part) {
    chunks += png_chunk("IDAT", stream.substr(pos, part));
  }
  return chunks;
}

std::string indexed_png(uint32_t width, uint32_t height, uint8_t bit_depth,
                        const index_at_fn& index_at, int idat_count) {
  return png_signature_bytes() + png_chunk("IHDR", ihdr_data(width, height, bit_depth, 3)) +
         idat_chunks(zlib_stored(raw_rows(width, height, bit_depth, index_at)), idat_count) +
         png_chunk("IEND", "");
}

std::string clut_bytes(uint8_t header, const std::string& fields, const std::string& entries) {
  return std::string(1, static_cast<char>(header)) + fields + entries;
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file.flush());
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
