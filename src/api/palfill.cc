// The C interface of include/palfill.h over the core. Everything the
// library does is the core's; this file only turns C callbacks into byte
// sources and sinks and the core's results into palfill_result.
#include "palfill.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "png/chunk_pass.h"
#include "stream/byte_stream.h"

struct palfill_colours {
  image_palette palette;
};

namespace {

#define PALFILL_STRINGIFY(x) #x
#define PALFILL_VERSION_TEXT(major, minor, patch) \
  PALFILL_STRINGIFY(major) "." PALFILL_STRINGIFY(minor) "." PALFILL_STRINGIFY(patch)

palfill_result from_clut_result(clut_result result) {
  switch (result) {
    case clut_result::loaded:
      return PALFILL_FINISHED;
    case clut_result::unknown_depth:
      return PALFILL_UNKNOWN_DEPTH;
    case clut_result::not_a_clut:
      return PALFILL_NOT_A_CLUT;
    case clut_result::unexpected_eof:
      break;
  }
  return PALFILL_CLUT_UNEXPECTED_EOF;
}

palfill_result from_pass_result(pass_result result) {
  switch (result) {
    case pass_result::finished:
      return PALFILL_FINISHED;
    case pass_result::not_png:
      return PALFILL_NOT_PNG;
    case pass_result::unexpected_eof:
      return PALFILL_UNEXPECTED_EOF;
    case pass_result::chunk_too_large:
      return PALFILL_OUT_OF_MEMORY;
    case pass_result::write_failed:
      break;
  }
  return PALFILL_WRITE_FAILED;
}

byte_source from_c_source(const palfill_source& source) {
  return byte_source{source.read, source.context, source.length_known != 0, source.length};
}

bool write_to_c_sink(void* context, const uint8_t* bytes, std::size_t count) {
  const auto* sink = static_cast<const palfill_sink*>(context);
  return sink->write(sink->context, bytes, count) != 0;
}

bool cut_c_sink(void* context, uint64_t length) {
  const auto* sink = static_cast<const palfill_sink*>(context);
  return sink->cut(sink->context, length) != 0;
}

}  // namespace

extern "C" {

const char* palfill_result_text(palfill_result result) {
  switch (result) {
    case PALFILL_FINISHED:
      return "finished";
    case PALFILL_NOT_PNG:
      return "not a PNG";
    case PALFILL_UNEXPECTED_EOF:
      return "the PNG ends early";
    case PALFILL_CLUT_UNEXPECTED_EOF:
      return "the CLUT ends early";
    case PALFILL_UNKNOWN_DEPTH:
      return "the CLUT's depth code is invalid";
    case PALFILL_NOT_A_CLUT:
      return "not a CLUT: it begins as a PNG does";
    case PALFILL_OUT_OF_MEMORY:
      return "out of memory";
    case PALFILL_WRITE_FAILED:
      return "the output refused bytes";
  }
  return "unknown result";
}

const char* palfill_version(void) {
  return PALFILL_VERSION_TEXT(PALFILL_VERSION_MAJOR, PALFILL_VERSION_MINOR, PALFILL_VERSION_PATCH);
}

palfill_colours* palfill_colours_new(void) {
  // malloc rather than new: the library then needs no C++ runtime.
  auto* colours = static_cast<palfill_colours*>(std::malloc(sizeof(palfill_colours)));
  if (colours != nullptr) seed_image_palette(colours->palette);
  return colours;
}

void palfill_colours_free(palfill_colours* colours) {
  std::free(colours);
}

palfill_result palfill_load_clut(palfill_colours* colours, const palfill_source* clut) {
  byte_source source = from_c_source(*clut);
  return from_clut_result(load_clut(source, colours->palette));
}

palfill_result palfill_convert_stream(const palfill_colours* colours, const palfill_source* png,
                                      const palfill_sink* out) {
  byte_source source = from_c_source(*png);
  byte_sink sink{write_to_c_sink, out->cut != nullptr ? cut_c_sink : nullptr,
                 const_cast<palfill_sink*>(out)};
  return from_pass_result(convert_png(source, sink, colours->palette));
}

palfill_result palfill_convert(const unsigned char* png, size_t png_size, const unsigned char* clut,
                               size_t clut_size, unsigned char** out, size_t* out_size) {
  *out = nullptr;
  *out_size = 0;
  image_palette palette;
  seed_image_palette(palette);
  if (clut != nullptr) {
    memory_input clut_input{clut, clut_size, 0};
    byte_source clut_source = memory_source(clut_input, true);
    const clut_result loaded = load_clut(clut_source, palette);
    if (loaded != clut_result::loaded) return from_clut_result(loaded);
  }
  // The output is the input's bytes, cut short or not, plus the palette
  // chunks: it never outgrows this, so it is allocated once.
  if (png_size > SIZE_MAX - max_palette_chunks_size) return PALFILL_OUT_OF_MEMORY;
  const std::size_t capacity = png_size + max_palette_chunks_size;
  auto* bytes = static_cast<uint8_t*>(std::malloc(capacity));
  if (bytes == nullptr) return PALFILL_OUT_OF_MEMORY;
  memory_input png_input{png, png_size, 0};
  byte_source source = memory_source(png_input, true);
  memory_output output{bytes, capacity, 0};
  byte_sink sink = memory_output_sink(output);
  // A block no larger than the input: a small image costs a small copy.
  const std::size_t block_size = std::min(default_block_size, png_size);
  const pass_result result = convert_png(source, sink, palette, block_size);
  if (output.size == 0 || result == pass_result::chunk_too_large) {
    std::free(bytes);
    return from_pass_result(result);
  }
  *out = bytes;
  *out_size = output.size;
  return from_pass_result(result);
}

void palfill_free(void* bytes) {
  std::free(bytes);
}

}  // extern "C"
