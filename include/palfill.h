/* libpalfill: gives palette-less indexed PNGs from data broadcasts their
 * palette, in the program that holds them.
 *
 * A PNG of colour type 3 (bit depth 8 or less) that reaches its first IDAT
 * chunk without a PLTE chunk gets, right before that IDAT, a PLTE chunk of
 * 2^bit-depth entries (and a tRNS chunk when one of them is not opaque)
 * taken from a CLUT file of data broadcasting or, where it sets none, from
 * the 128 default colours of data broadcasting. Every other byte is copied
 * as it stands, up to and including IEND. The palfill command is built on
 * this library: for the same PNG and CLUT it gives the same bytes and the
 * same outcome.
 *
 * Contract for every function here:
 * - No global or static mutable state. Any number of threads may call any
 *   function at once, as long as no two of them use one palfill_colours
 *   while one of them loads a CLUT into it.
 * - Nothing prints, reads the environment, opens a file or ends the
 *   process. Failures are returned as a palfill_result.
 * - Pointers must not be NULL, except where a function says what NULL
 *   means.
 * - Lengths read from a file are checked before they are trusted: no input,
 *   however damaged, makes a call read or write out of bounds, and no
 *   length field makes it allocate for bytes that never arrive. Memory is
 *   one block of 256 KiB, or, for the one case that holds a chunk (see
 *   palfill_convert_stream()), at most twice the bytes that arrived.
 *
 * The ABI is that of libpalfill.so.1, and it only grows: each release that
 * adds functions exports them under a version node of its own (PALFILL_1
 * for 1.1, PALFILL_1.2 for 1.2), so a program built against a newer
 * release fails to start against an older library instead of failing part
 * way through. The 1.1 functions, structs and callbacks keep their layout
 * and meaning for good. Result values are only added, never reused.
 * PALFILL_VERSION_* give the version this header belongs to;
 * palfill_version() the version of the library actually loaded.
 *
 * Since 1.2, the interface grows without breaking callers:
 * - Structs that callers fill in begin with `size`, which the caller sets
 *   to sizeof the struct as its own header defines it. A later release may
 *   add members at the end; the library takes those that fit in `size` and
 *   gives the others their zero value. A `size` larger than the library
 *   knows is accepted when the bytes it does not know are all zero (the
 *   caller wants nothing new of it), and refused with
 *   PALFILL_INVALID_ARGUMENT otherwise, as is a `size` too small for the
 *   first members. Zero-initialise the struct, then set what you need:
 *   `palfill_reader reader = {sizeof reader};`.
 * - Results and callbacks agree: 0 is success, anything else a failure.
 *   (The 1.1 callbacks return non-zero for success, and always will.)
 *
 * Which to use: new code streams with palfill_reader and palfill_writer,
 * through palfill_load_clut_io() and palfill_convert_io(), which also tell
 * a failed read apart from the end of the input. palfill_load_clut() and
 * palfill_convert_stream() stay for callers of 1.1: they are those calls
 * made with 1.1's callbacks, whose source cannot fail.
 */
#ifndef PALFILL_H_
#define PALFILL_H_

#include <stddef.h>

#define PALFILL_VERSION_MAJOR 1
#define PALFILL_VERSION_MINOR 4
#define PALFILL_VERSION_PATCH 0

/* Marks what the shared library exports; everything else stays inside. */
#if defined(PALFILL_BUILDING_SHARED) && defined(_WIN32)
#define PALFILL_API __declspec(dllexport)
#elif defined(PALFILL_BUILDING_SHARED) && defined(__GNUC__)
#define PALFILL_API __attribute__((visibility("default")))
#else
#define PALFILL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* How a conversion ended. Values are stable and never reused. */
typedef enum palfill_result {
  PALFILL_FINISHED = 0,            /* the output is complete */
  PALFILL_NOT_PNG = 1,             /* 8 bytes or more, not beginning with the PNG signature */
  PALFILL_UNEXPECTED_EOF = 2,      /* the PNG ends before IEND */
  PALFILL_CLUT_UNEXPECTED_EOF = 3, /* the CLUT ends inside its header, range or an entry */
  PALFILL_UNKNOWN_DEPTH = 4,       /* the CLUT's depth code is 3, which is invalid */
  PALFILL_NOT_A_CLUT = 5,          /* the CLUT begins with the PNG signature: an image */
  PALFILL_OUT_OF_MEMORY = 6,       /* memory for the conversion could not be had */
  PALFILL_WRITE_FAILED = 7,        /* a sink refused bytes or a cut (streaming only) */
  /* Since 1.2: */
  PALFILL_READ_FAILED = 8,      /* a reader failed; the output is as after an early end */
  PALFILL_BUFFER_TOO_SMALL = 9, /* the caller's buffer cannot hold the output; nothing written */
  PALFILL_INVALID_ARGUMENT = 10 /* a struct's `size` is one no release of it has */
} palfill_result;

/* A short English text for `result`, such as "not a PNG", in static
 * storage; never NULL (an unknown value gives "unknown result"). */
PALFILL_API const char* palfill_result_text(palfill_result result);

/* The version of the loaded library, "MAJOR.MINOR.PATCH", in static storage. */
PALFILL_API const char* palfill_version(void);

/* Converts a whole PNG held in memory.
 *
 * `png` holds `png_size` bytes (it may be NULL when `png_size` is 0).
 * `clut` NULL means the default colours alone; otherwise it holds the
 * `clut_size` bytes of a CLUT file, and a `clut_size` of 0 is an empty CLUT
 * file, which ends early. `out` and `out_size` must not be NULL.
 *
 * On every result, *out and *out_size are the bytes that the palfill
 * command leaves in its output file for the same PNG and CLUT: the whole
 * image after PALFILL_FINISHED; after PALFILL_UNEXPECTED_EOF every chunk
 * before the damage and, of a chunk cut short, its 8 header bytes; nothing
 * after PALFILL_NOT_PNG, a CLUT failure or PALFILL_OUT_OF_MEMORY. When
 * *out_size is 0, *out is NULL; otherwise *out is allocated by the library
 * and the caller frees it with palfill_free(). The input is never changed.
 *
 * Memory: the output (at most palfill_convert_bound(png_size) bytes) and a
 * working copy of at most the same size; nothing is kept after the call. */
PALFILL_API palfill_result palfill_convert(const unsigned char* png, size_t png_size,
                                           const unsigned char* clut, size_t clut_size,
                                           unsigned char** out, size_t* out_size);

/* Frees what palfill_convert() returned in *out. NULL is accepted. */
PALFILL_API void palfill_free(void* bytes);

/* Streaming: a PNG of any size through callbacks, in constant memory.
 *
 * A source hands out bytes in order. read() fills up to `count` bytes of
 * `dest` and returns how many it gave; fewer than `count` means the source
 * has ended (or failed, which counts the same) and it is not called again.
 * When `length_known` is non-zero, `length` is the number of bytes it holds
 * from where reading starts: the conversion never reads past it and uses it
 * to see a chunk cut short before writing any of its data.
 *
 * A sink takes bytes in order. write() returns non-zero when all `count`
 * bytes arrived. cut(), which may be NULL, shortens what was written to its
 * first `length` bytes and returns non-zero on success. */
typedef struct palfill_source {
  size_t (*read)(void* context, unsigned char* dest, size_t count);
  void* context;
  int length_known;
  unsigned long long length;
} palfill_source;

typedef struct palfill_sink {
  int (*write)(void* context, const unsigned char* bytes, size_t count);
  int (*cut)(void* context, unsigned long long length);
  void* context;
} palfill_sink;

/* The colours a conversion takes: the default colours, and over them those
 * of a CLUT file once one is loaded. */
typedef struct palfill_colours palfill_colours;

/* New colours holding the default colours; NULL when out of memory. Free
 * them with palfill_colours_free(), which accepts NULL. */
PALFILL_API palfill_colours* palfill_colours_new(void);
PALFILL_API void palfill_colours_free(palfill_colours* colours);

/* Reads a CLUT file from `clut` into `colours`. Returns PALFILL_FINISHED,
 * PALFILL_CLUT_UNEXPECTED_EOF, PALFILL_UNKNOWN_DEPTH or PALFILL_NOT_A_CLUT.
 * A PNG signature at the start is refused before anything is stored; after
 * a failure part way through, the entries before it stay stored.
 * Bytes after the last entry are never asked for, with one exception: to
 * tell an image from a CLUT, the first bytes are asked for one at a time
 * while each matches the PNG signature (137 80 78 71 13 10 26 10), up to
 * all 8, even past the end of a shorter CLUT. A CLUT whose first byte is
 * not 137 (0x89) is never read past its end. */
PALFILL_API palfill_result palfill_load_clut(palfill_colours* colours, const palfill_source* clut);

/* Converts the PNG from `png` to `out` with `colours`, reading and writing
 * in blocks of 256 KiB. Returns PALFILL_FINISHED, PALFILL_NOT_PNG,
 * PALFILL_UNEXPECTED_EOF, PALFILL_WRITE_FAILED or PALFILL_OUT_OF_MEMORY,
 * and leaves in `out` what it wrote up to then, as palfill_convert()
 * describes. When the input ends inside a chunk, the sink ends with that
 * chunk's header: a source of known length is checked before any of a
 * chunk's data is written; otherwise a sink with cut() is cut back; only a
 * source of unknown length into a sink without cut() makes the conversion
 * hold a chunk in memory until all of it has arrived, in a buffer that
 * doubles as its bytes arrive, so at most twice what arrived. Memory
 * otherwise stays at one block.
 *
 * An input of fewer than 8 bytes ends early (PALFILL_UNEXPECTED_EOF), even
 * when it is no PNG: PALFILL_NOT_PNG needs all 8 bytes of the signature.
 *
 * One case leaves more than an early end would: a source of known length
 * that fails (or gives less than its length) part way through a chunk of
 * more than one block, into a sink without cut(). That chunk's first
 * blocks have gone out, and nothing can take them back; holding the chunk
 * instead would cost memory as large as it. The output is still the start
 * of what a complete conversion writes. A chunk that fits in one block is
 * held there until all of it has arrived. */
PALFILL_API palfill_result palfill_convert_stream(const palfill_colours* colours,
                                                  const palfill_source* png,
                                                  const palfill_sink* out);

/* ---- Since 1.2 (version node PALFILL_1.2) ---- */

/* The most bytes a conversion of a `png_size`-byte PNG can give: the PNG
 * and the largest PLTE and tRNS chunks, png_size + 1,048. SIZE_MAX when
 * that does not fit in a size_t. */
PALFILL_API size_t palfill_convert_bound(size_t png_size);

/* palfill_convert() into `out_capacity` bytes at `out`, which the caller
 * owns (`out` may be NULL when `out_capacity` is 0). On return *out_size
 * is the size of the output, which is what palfill_convert() gives.
 *
 * When the output does not fit, the result is PALFILL_BUFFER_TOO_SMALL,
 * nothing is written to `out`, and *out_size is the exact size that it
 * needs: call again with at least that much. A buffer of
 * palfill_convert_bound(png_size) bytes always fits. A CLUT failure or
 * PALFILL_NOT_PNG, whose output is empty, fits in any buffer. Only the
 * working copy is allocated, so PALFILL_OUT_OF_MEMORY is still possible. */
PALFILL_API palfill_result palfill_convert_into(const unsigned char* png, size_t png_size,
                                                const unsigned char* clut, size_t clut_size,
                                                unsigned char* out, size_t out_capacity,
                                                size_t* out_size);

/* A reader hands out bytes in order. read() fills up to `count` bytes of
 * `dest`, sets *given to how many, and returns 0; fewer than `count` means
 * the end. When reading fails (a disk error, say), it returns non-zero, and
 * the bytes it gave with the failure still count. Either way it is not
 * called again, and a reader that failed makes the call that reads it
 * return PALFILL_READ_FAILED, even when it gave every byte it was asked
 * for. When `length_known` is non-zero, `length` is the number of bytes it
 * holds from where reading starts, as for palfill_source. */
typedef struct palfill_reader {
  size_t size; /* sizeof(palfill_reader) */
  int (*read)(void* context, unsigned char* dest, size_t count, size_t* given);
  void* context;
  int length_known;
  unsigned long long length;
} palfill_reader;

/* A writer takes bytes in order. write() returns 0 when all `count` bytes
 * arrived, non-zero otherwise. cut(), which may be NULL, shortens what was
 * written to its first `length` bytes and returns 0 on success. */
typedef struct palfill_writer {
  size_t size; /* sizeof(palfill_writer) */
  int (*write)(void* context, const unsigned char* bytes, size_t count);
  int (*cut)(void* context, unsigned long long length);
  void* context;
} palfill_writer;

/* palfill_load_clut() from a reader: the same, and PALFILL_READ_FAILED
 * whenever the reader fails, the entries it gave stored.
 * PALFILL_INVALID_ARGUMENT for a reader whose `size` is refused (see
 * above), before anything is read. */
PALFILL_API palfill_result palfill_load_clut_io(palfill_colours* colours,
                                                const palfill_reader* clut);

/* palfill_convert_stream() from a reader to a writer: the same, and
 * PALFILL_READ_FAILED whenever the reader fails. The writer then holds
 * what the bytes the reader gave make of the image: what
 * PALFILL_UNEXPECTED_EOF would leave for them, or all of it when they hold
 * the whole image (but for a chunk of more than one block into a writer
 * without cut(), as palfill_convert_stream() says).
 * PALFILL_INVALID_ARGUMENT for a `size` that is refused, before anything is
 * read or written. */
PALFILL_API palfill_result palfill_convert_io(const palfill_colours* colours,
                                              const palfill_reader* png, const palfill_writer* out);

#ifdef __cplusplus
}
#endif

#endif /* PALFILL_H_ */
