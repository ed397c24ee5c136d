// The C interface of include/palfill.h over the core. Everything the
// library does is the core's; this file only turns C callbacks into byte
// sources and sinks and the core's results into palfill_result.
#include "palfill.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "png/chunk_pass.h"
#include "stream/byte_stream.h"

struct palfill_colours {
  palfill::image_palette palette;
};

namespace palfill {
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
    case clut_result::read_failed:
      return PALFILL_READ_FAILED;
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
    case pass_result::out_of_memory:
      return PALFILL_OUT_OF_MEMORY;
    case pass_result::read_failed:
      return PALFILL_READ_FAILED;
    case pass_result::write_failed:
      break;
  }
  return PALFILL_WRITE_FAILED;
}

// ---- Readers and writers (1.2): callbacks return 0 for success.

// Copies the caller's struct, whose own header gave it `given->size`
// bytes: the members past that size take their zero value, and members
// past those this library knows must be zero. `first_size` is the size of
// the struct's first release, which no caller's may be smaller than; it
// never changes.
template <typename T>
bool take_struct(const T* given, std::size_t first_size, T& taken) {
  const std::size_t size = given->size;
  if (size < first_size) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(given);
  for (std::size_t i = sizeof(T); i < size; ++i) {
    if (bytes[i] != 0) return false;  // asks for something this library cannot do
  }
  std::memset(&taken, 0, sizeof taken);
  std::memcpy(&taken, given, std::min(size, sizeof(T)));
  return true;
}

constexpr std::size_t reader_size_1_2 = sizeof(palfill_reader);
constexpr std::size_t writer_size_1_2 = sizeof(palfill_writer);

std::size_t read_c_reader(void* context, uint8_t* dest, std::size_t count, bool* failed) {
  const auto* reader = static_cast<const palfill_reader*>(context);
  std::size_t given = 0;
  *failed = reader->read(reader->context, dest, count, &given) != 0;
  return std::min(given, count);
}

byte_source from_c_reader(const palfill_reader& reader) {
  return byte_source{read_c_reader, const_cast<palfill_reader*>(&reader), reader.length_known != 0,
                     reader.length, false};
}

bool write_to_c_writer(void* context, const uint8_t* bytes, std::size_t count) {
  const auto* writer = static_cast<const palfill_writer*>(context);
  return writer->write(writer->context, bytes, count) == 0;
}

bool cut_c_writer(void* context, uint64_t length) {
  const auto* writer = static_cast<const palfill_writer*>(context);
  return writer->cut(writer->context, length) == 0;
}

// ---- 1.1 sources and sinks, as 1.2 readers and writers. Their callbacks
// return non-zero for success, and a source cannot fail, so a 1.1 caller
// never sees PALFILL_READ_FAILED.

int read_c_source(void* context, unsigned char* dest, std::size_t count, std::size_t* given) {
  const auto* source = static_cast<const palfill_source*>(context);
  *given = source->read(source->context, dest, count);
  return 0;
}

palfill_reader reader_of(const palfill_source& source) {
  return palfill_reader{sizeof(palfill_reader), read_c_source, const_cast<palfill_source*>(&source),
                        source.length_known, source.length};
}

int write_to_c_sink(void* context, const unsigned char* bytes, std::size_t count) {
  const auto* sink = static_cast<const palfill_sink*>(context);
  return sink->write(sink->context, bytes, count) != 0 ? 0 : 1;
}

int cut_c_sink(void* context, unsigned long long length) {
  const auto* sink = static_cast<const palfill_sink*>(context);
  return sink->cut(sink->context, length) != 0 ? 0 : 1;
}

palfill_writer writer_of(const palfill_sink& sink) {
  return palfill_writer{sizeof(palfill_writer), write_to_c_sink,
                        sink.cut != nullptr ? cut_c_sink : nullptr,
                        const_cast<palfill_sink*>(&sink)};
}

// ---- Whole PNGs in memory.

// The palette for a CLUT held in memory (null: the default colours).
palfill_result palette_for(const unsigned char* clut, std::size_t clut_size,
                           image_palette& palette) {
  seed_image_palette(palette);
  if (clut == nullptr) return PALFILL_FINISHED;
  memory_input clut_input{clut, clut_size, 0};
  byte_source clut_source = memory_source(clut_input, true);
  return from_clut_result(load_clut(clut_source, palette));
}

pass_result convert_memory(const image_palette& palette, const unsigned char* png,
                           std::size_t png_size, byte_sink& sink) {
  memory_input png_input{png, png_size, 0};
  byte_source source = memory_source(png_input, true);
  // A block no larger than the input: a small image costs a small copy.
  const std::size_t block_size = std::min(default_block_size, png_size);
  return convert_png(source, sink, palette.data(), block_size);
}

}  // namespace
}  // namespace palfill

using namespace palfill;

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
    case PALFILL_READ_FAILED:
      return "a read failed";
    case PALFILL_BUFFER_TOO_SMALL:
      return "the output buffer is too small";
    case PALFILL_INVALID_ARGUMENT:
      return "a struct's size is invalid";
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

palfill_result palfill_load_clut_io(palfill_colours* colours, const palfill_reader* clut) {
  palfill_reader reader;
  if (!take_struct(clut, reader_size_1_2, reader)) return PALFILL_INVALID_ARGUMENT;
  byte_source source = from_c_reader(reader);
  return from_clut_result(load_clut(source, colours->palette));
}

palfill_result palfill_convert_io(const palfill_colours* colours, const palfill_reader* png,
                                  const palfill_writer* out) {
  palfill_reader reader;
  palfill_writer writer;
  if (!take_struct(png, reader_size_1_2, reader) || !take_struct(out, writer_size_1_2, writer)) {
    return PALFILL_INVALID_ARGUMENT;
  }
  byte_source source = from_c_reader(reader);
  byte_sink sink{write_to_c_writer, writer.cut != nullptr ? cut_c_writer : nullptr, &writer};
  return from_pass_result(convert_png(source, sink, colours->palette.data()));
}

palfill_result palfill_load_clut(palfill_colours* colours, const palfill_source* clut) {
  const palfill_reader reader = reader_of(*clut);
  return palfill_load_clut_io(colours, &reader);
}

palfill_result palfill_convert_stream(const palfill_colours* colours, const palfill_source* png,
                                      const palfill_sink* out) {
  const palfill_reader reader = reader_of(*png);
  const palfill_writer writer = writer_of(*out);
  return palfill_convert_io(colours, &reader, &writer);
}

size_t palfill_convert_bound(size_t png_size) {
  return png_size > SIZE_MAX - max_palette_chunks_size ? SIZE_MAX
                                                       : png_size + max_palette_chunks_size;
}

palfill_result palfill_convert(const unsigned char* png, size_t png_size, const unsigned char* clut,
                               size_t clut_size, unsigned char** out, size_t* out_size) {
  *out = nullptr;
  *out_size = 0;
  image_palette palette;
  const palfill_result loaded = palette_for(clut, clut_size, palette);
  if (loaded != PALFILL_FINISHED) return loaded;
  // The output is the input's bytes, cut short or not, plus the palette
  // chunks: it never outgrows this, so it is allocated once.
  const std::size_t capacity = palfill_convert_bound(png_size);
  if (capacity == SIZE_MAX) return PALFILL_OUT_OF_MEMORY;
  auto* bytes = static_cast<uint8_t*>(std::malloc(capacity));
  if (bytes == nullptr) return PALFILL_OUT_OF_MEMORY;
  memory_output output{bytes, capacity, 0};
  byte_sink sink = memory_output_sink(output);
  const pass_result result = convert_memory(palette, png, png_size, sink);
  if (output.size == 0 || result == pass_result::out_of_memory) {
    std::free(bytes);
    return from_pass_result(result);
  }
  *out = bytes;
  *out_size = output.size;
  return from_pass_result(result);
}

palfill_result palfill_convert_into(const unsigned char* png, size_t png_size,
                                    const unsigned char* clut, size_t clut_size, unsigned char* out,
                                    size_t out_capacity, size_t* out_size) {
  *out_size = 0;
  image_palette palette;
  const palfill_result loaded = palette_for(clut, clut_size, palette);
  if (loaded != PALFILL_FINISHED) return loaded;
  if (out_capacity < palfill_convert_bound(png_size)) {
    // It may still fit: a first pass counts the bytes, so that a buffer
    // too small is never written to.
    uint64_t needed = 0;
    byte_sink counter = counting_sink(needed);
    const pass_result counted = convert_memory(palette, png, png_size, counter);
    if (counted == pass_result::out_of_memory) return PALFILL_OUT_OF_MEMORY;
    if (needed > out_capacity) {
      *out_size = static_cast<std::size_t>(needed);
      return PALFILL_BUFFER_TOO_SMALL;
    }
  }
  memory_output output{out, out_capacity, 0};
  byte_sink sink = memory_output_sink(output);
  const pass_result result = convert_memory(palette, png, png_size, sink);
  *out_size = output.size;
  return from_pass_result(result);
}

void palfill_free(void* bytes) {
  std::free(bytes);
}

}  // extern "C"
