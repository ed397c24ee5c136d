#include "reference.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "format/byte_order.h"
#include "png_builder.h"

using namespace palfill;

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

namespace {

// The bytes that match the PNG signature, and the first one that does not.
std::size_t signature_look_ahead(const std::string& clut) {
  const std::string signature = png_signature_bytes();
  std::size_t n = 0;
  while (n < 8 && n < clut.size() && clut[n] == signature[n]) ++n;
  return n < 8 && n < clut.size() ? n + 1 : n;
}

clut_result read_clut_fields(const std::string& clut, palette_table& table, std::size_t& at);

}  // namespace

clut_result reference_load_clut(const std::string& clut, palette_table& table, std::size_t* asked) {
  std::size_t at = 0;
  const clut_result result = clut.compare(0, 8, png_signature_bytes()) == 0
                                 ? clut_result::not_a_clut
                                 : read_clut_fields(clut, table, at);
  if (asked != nullptr) *asked = std::max(at, signature_look_ahead(clut));
  return result;
}

namespace {

clut_result read_clut_fields(const std::string& clut, palette_table& table, std::size_t& at) {
  const auto next = [&](uint32_t& value) {
    if (at == clut.size()) return false;
    value = static_cast<uint8_t>(clut[at++]);
    return true;
  };
  uint32_t header = 0, start = 0, end = 0, a = 0, b = 0;
  if (!next(header)) return clut_result::unexpected_eof;
  const uint32_t depth = header >> 5 & 3;
  if (depth == 3) return clut_result::unknown_depth;
  for (int i = 0; i < 8 && (header & 0x10); ++i) {
    if (!next(a)) return clut_result::unexpected_eof;
  }
  end = depth == 0 ? 15 : depth == 1 ? 255 : 65535;
  if ((header & 0x08) && depth == 0) {
    if (!next(a)) return clut_result::unexpected_eof;
    start = a >> 4;
    end = a & 15;
  } else if ((header & 0x08) && depth == 1) {
    if (!next(start) || !next(end)) return clut_result::unexpected_eof;
  } else if (header & 0x08) {
    uint32_t c = 0, d = 0;
    if (!next(a) || !next(b) || !next(c) || !next(d)) return clut_result::unexpected_eof;
    start = a << 8 | b;
    end = c << 8 | d;
  }
  for (uint32_t index = start; index <= end; ++index) {
    if (clut.size() - at < 4) return clut_result::unexpected_eof;
    const auto byte = [&](int i) { return static_cast<uint8_t>(clut[at + i]); };
    const rgb_colour rgb = (header & 0x80) ? rgb_colour{byte(0), byte(1), byte(2)}
                                           : ycbcr_to_rgb(byte(0), byte(1), byte(2));
    table[index] = rgba_entry{rgb.red, rgb.green, rgb.blue, byte(3)};
    at += 4;
  }
  return clut_result::loaded;
}

}  // namespace

reference_output convert_in_memory(const std::string& input, const palette_table& table,
                                   bool length_known, bool can_cut, std::size_t block_size) {
  memory_input bytes{reinterpret_cast<const uint8_t*>(input.data()), input.size(), 0};
  byte_source source = memory_source(bytes, length_known);
  reference_output out{pass_result::finished, ""};
  byte_sink sink = memory_sink(out.bytes, can_cut);
  out.result = convert_png(source, sink, table, block_size);
  return out;
}

library_output reference_library_convert(const std::string& png, const std::string* clut) {
  palette_table table;
  seed_palette_table(table);
  if (clut != nullptr) {
    switch (reference_load_clut(*clut, table)) {
      case clut_result::loaded:
        break;
      case clut_result::unexpected_eof:
        return {PALFILL_CLUT_UNEXPECTED_EOF, ""};
      case clut_result::unknown_depth:
        return {PALFILL_UNKNOWN_DEPTH, ""};
      case clut_result::not_a_clut:
        return {PALFILL_NOT_A_CLUT, ""};
      case clut_result::read_failed:
        return {PALFILL_READ_FAILED, ""};
    }
  }
  const reference_output out = reference_convert(png, table);
  const palfill_result result = out.result == pass_result::finished  ? PALFILL_FINISHED
                                : out.result == pass_result::not_png ? PALFILL_NOT_PNG
                                                                     : PALFILL_UNEXPECTED_EOF;
  return {result, out.bytes};
}

library_output reference_library_convert(const std::string& png, const std::string* clut,
                                         library_route route) {
  library_output want = reference_library_convert(png, clut);
  if (route != library_route::io_failing) return want;
  // Whatever reads to the reader's end meets its failure there: a CLUT cut
  // short, one whose look for the PNG signature goes past it, and the PNG,
  // since a pipe is read a block at a time.
  const bool signature_past_its_end = clut != nullptr && clut->size() < 8 &&
                                      png_signature_bytes().compare(0, clut->size(), *clut) == 0;
  if (want.result == PALFILL_CLUT_UNEXPECTED_EOF || signature_past_its_end) {
    return {PALFILL_READ_FAILED, ""};
  }
  if (want.result != PALFILL_UNKNOWN_DEPTH && want.result != PALFILL_NOT_A_CLUT) {
    want.result = PALFILL_READ_FAILED;
  }
  return want;
}

namespace {

const unsigned char* c_bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

library_output through_convert(const std::string& png, const std::string* clut) {
  unsigned char* out = nullptr;
  std::size_t out_size = 0;
  const palfill_result result =
      palfill_convert(c_bytes(png), png.size(), clut != nullptr ? c_bytes(*clut) : nullptr,
                      clut != nullptr ? clut->size() : 0, &out, &out_size);
  library_output converted{result, out_size == 0
                                       ? std::string()
                                       : std::string(reinterpret_cast<const char*>(out), out_size)};
  if ((out == nullptr) != (out_size == 0))
    converted.result = palfill_result(-1);  // breaks its word
  palfill_free(out);
  return converted;
}

// Asks with a buffer one byte short of what the output needs, which must
// be refused untouched with the size it needs, then converts into exactly
// that much.
library_output through_convert_into(const std::string& png, const std::string* clut) {
  const auto* clut_bytes_in = clut != nullptr ? c_bytes(*clut) : nullptr;
  const std::size_t clut_size = clut != nullptr ? clut->size() : 0;
  std::size_t needed = 0;
  palfill_result result =
      palfill_convert_into(c_bytes(png), png.size(), clut_bytes_in, clut_size, nullptr, 0, &needed);
  if (result != PALFILL_BUFFER_TOO_SMALL) return {result, ""};  // it fitted in nothing
  std::string out(needed + 1, '~');
  std::size_t size = 0;
  result = palfill_convert_into(c_bytes(png), png.size(), clut_bytes_in, clut_size,
                                reinterpret_cast<unsigned char*>(&out[0]), needed - 1, &size);
  if (result != PALFILL_BUFFER_TOO_SMALL || size != needed || out != std::string(needed + 1, '~')) {
    return {palfill_result(-1), ""};  // wrote into a buffer too small, or misreported
  }
  result = palfill_convert_into(c_bytes(png), png.size(), clut_bytes_in, clut_size,
                                reinterpret_cast<unsigned char*>(&out[0]), needed, &size);
  if (size != needed || out[needed] != '~') return {palfill_result(-1), ""};
  out.resize(size);
  return {result, out};
}

std::size_t give_bytes(memory_reader& reader, unsigned char* dest, std::size_t count) {
  const std::size_t given = std::min(count, reader.bytes->size() - reader.pos);
  std::copy_n(reader.bytes->data() + reader.pos, given, dest);
  reader.pos += given;
  return given;
}

size_t read_1_1(void* context, unsigned char* dest, size_t count) {
  return give_bytes(*static_cast<memory_reader*>(context), dest, count);
}

int read_1_2(void* context, unsigned char* dest, size_t count, size_t* given) {
  auto& reader = *static_cast<memory_reader*>(context);
  reader.called_after_failing = reader.called_after_failing || reader.failed;
  *given = give_bytes(reader, dest, count);
  reader.failed = (*given < count && reader.fail_at_end) || ++reader.calls == reader.fail_on_call;
  return reader.failed ? 1 : 0;
}

int write_1_1(void* context, const unsigned char* bytes, size_t count) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), count);
  return 1;
}

int cut_1_1(void* context, unsigned long long length) {
  auto* bytes = static_cast<std::string*>(context);
  if (length > bytes->size()) return 0;
  bytes->resize(static_cast<std::size_t>(length));
  return 1;
}

int write_1_2(void* context, const unsigned char* bytes, size_t count) {
  return write_1_1(context, bytes, count) != 0 ? 0 : 1;
}

int cut_1_2(void* context, unsigned long long length) {
  return cut_1_1(context, length) != 0 ? 0 : 1;
}

library_output through_streams(const std::string& png, const std::string* clut,
                               library_route route) {
  using colours_ptr = std::unique_ptr<palfill_colours, void (*)(palfill_colours*)>;
  const colours_ptr colours(palfill_colours_new(), palfill_colours_free);
  const bool file = route != library_route::io_pipe && route != library_route::io_failing;
  const bool fails = route == library_route::io_failing;
  if (clut != nullptr) {
    memory_reader from{clut, 0, fails};
    const palfill_source source{read_1_1, &from, 1, clut->size()};
    const palfill_reader reader = pipe_reader(from);
    const palfill_result loaded = route == library_route::stream
                                      ? palfill_load_clut(colours.get(), &source)
                                      : palfill_load_clut_io(colours.get(), &reader);
    if (from.called_after_failing) return {palfill_result(-1), ""};
    if (loaded != PALFILL_FINISHED) return {loaded, ""};
  }
  library_output out{PALFILL_FINISHED, ""};
  memory_reader from{&png, 0, fails};
  if (route == library_route::stream) {
    const palfill_source source{read_1_1, &from, 1, png.size()};
    const palfill_sink sink{write_1_1, cut_1_1, &out.bytes};
    out.result = palfill_convert_stream(colours.get(), &source, &sink);
  } else {
    palfill_reader reader = pipe_reader(from);
    reader.length_known = file;
    reader.length = png.size();
    const palfill_writer writer = string_writer(out.bytes, file);
    out.result = palfill_convert_io(colours.get(), &reader, &writer);
  }
  if (from.called_after_failing) out.result = palfill_result(-1);
  return out;
}

}  // namespace

palfill_reader pipe_reader(memory_reader& from) {
  return palfill_reader{sizeof(palfill_reader), read_1_2, &from, 0, 0};
}

palfill_writer string_writer(std::string& out, bool can_cut) {
  return palfill_writer{sizeof(palfill_writer), write_1_2, can_cut ? cut_1_2 : nullptr, &out};
}

library_output library_convert(const std::string& png, const std::string* clut,
                               library_route route) {
  switch (route) {
    case library_route::convert:
      return through_convert(png, clut);
    case library_route::convert_into:
      return through_convert_into(png, clut);
    default:
      return through_streams(png, clut, route);
  }
}

namespace {

bool write_memory(void* context, const uint8_t* bytes, std::size_t count) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), count);
  return true;
}

bool cut_memory(void* context, uint64_t length) {
  auto* bytes = static_cast<std::string*>(context);
  if (length > bytes->size()) return false;
  bytes->resize(static_cast<std::size_t>(length));
  return true;
}

}  // namespace

byte_sink memory_sink(std::string& bytes, bool can_cut) {
  return byte_sink{write_memory, can_cut ? cut_memory : nullptr, &bytes};
}
