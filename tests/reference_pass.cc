#include "reference_pass.h"

#include <cstdint>

#include "png_builder.h"

namespace {

uint32_t length_at(const std::string& bytes, std::size_t at) {
  return get_be32(reinterpret_cast<const uint8_t*>(bytes.data() + at));
}

std::string palette_chunks(const palette_table& table, uint32_t entries) {
  std::string plte, trns;
  bool opaque = true;
  for (uint32_t i = 0; i < entries; ++i) {
    plte += std::string{char(table[i].red), char(table[i].green), char(table[i].blue)};
    trns += char(table[i].alpha);
    opaque = opaque && table[i].alpha == 255;
  }
  return png_chunk("PLTE", plte) + (opaque ? "" : png_chunk("tRNS", trns));
}

}  // namespace

reference_output reference_convert(const std::string& input, const palette_table& table) {
  if (input.size() < 8) return {pass_result::unexpected_eof, ""};
  if (input.compare(0, 8, png_signature_bytes()) != 0) return {pass_result::not_png, ""};
  std::string out = input.substr(0, 8);
  int depth = 0, colour_type = -1;
  bool palette = false;
  for (std::size_t at = 8;;) {
    if (input.size() - at < 8) return {pass_result::unexpected_eof, out};
    const std::string type = input.substr(at + 4, 4);
    if (type == "IHDR") {
      if (input.size() - at < 21) return {pass_result::unexpected_eof, out};
      depth = static_cast<uint8_t>(input[at + 16]);
      colour_type = static_cast<uint8_t>(input[at + 17]);
    } else if (type == "PLTE") {
      palette = true;
    } else if (type == "IDAT" && !palette && colour_type == 3 && depth <= 8) {
      out += palette_chunks(table, 1u << depth);
      palette = true;
    }
    out += input.substr(at, 8);
    const uint64_t body = uint64_t{length_at(input, at)} + 4;
    if (input.size() - at - 8 < body) return {pass_result::unexpected_eof, out};
    out += input.substr(at + 8, static_cast<std::size_t>(body));
    at += 8 + static_cast<std::size_t>(body);
    if (type == "IEND") return {pass_result::finished, out};
  }
}
