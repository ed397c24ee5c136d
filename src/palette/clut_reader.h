// Reads a CLUT (colour lookup table) file of data broadcasting into the
// palette table, over the fixed default colours.
#ifndef PALFILL_PALETTE_CLUT_READER_H_
#define PALFILL_PALETTE_CLUT_READER_H_

#include "palette/palette_table.h"

// Opens `path` for binary reading, applies it to `table` and closes it.
// Returns false after printing the failure; a short file ends the process
// through die_unexpected_eof().
bool load_clut(const char* path, palette_table& table);

#endif  // PALFILL_PALETTE_CLUT_READER_H_
