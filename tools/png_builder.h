// Builds PNG and CLUT files byte by byte, for palfill's samples, tests,
// fuzz seeds and pictures. The image data is a valid zlib stream made of
// stored (uncompressed) deflate blocks, so any PNG reader can decode it
// without palfill depending on a compressor.
#ifndef PALFILL_TOOLS_PNG_BUILDER_H_
#define PALFILL_TOOLS_PNG_BUILDER_H_

#include <cstdint>
#include <functional>
#include <string>

std::string be16_bytes(uint16_t value);
std::string be32_bytes(uint32_t value);

std::string png_signature_bytes();
// Length, type, data and the CRC-32 of type and data.
std::string png_chunk(const std::string& type, const std::string& data);
std::string ihdr_data(uint32_t width, uint32_t height, uint8_t bit_depth, uint8_t colour_type);

using index_at_fn = std::function<uint32_t(uint32_t x, uint32_t y)>;

// Unfiltered scanlines: each row a filter byte 0, then its samples packed
// most significant bits first at `bits_per_pixel`, the last byte padded.
std::string raw_rows(uint32_t width, uint32_t height, uint32_t bits_per_pixel,
                     const index_at_fn& sample_at);
std::string zlib_stored(const std::string& raw);

// `stream` split over `idat_count` IDAT chunks of about equal size.
std::string idat_chunks(const std::string& stream, int idat_count);

// A palette-less indexed-colour PNG whose image data is split over
// `idat_count` IDAT chunks.
std::string indexed_png(uint32_t width, uint32_t height, uint8_t bit_depth,
                        const index_at_fn& index_at, int idat_count = 1);

// A CLUT file: the header byte, then `fields` (region and range bytes as
// the header announces them), then one R,G,B,A or Y,Cb,Cr,A entry per
// four bytes of `entries`.
std::string clut_bytes(uint8_t header, const std::string& fields, const std::string& entries);

bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

#endif  // PALFILL_TOOLS_PNG_BUILDER_H_
