#include "palette/clut_reader.h"

#include <cstdio>

#include "driver/files.h"
#include "driver/messages.h"

// The entries are not read yet; the file is opened so that an unopenable
// CLUT already fails before any PNG file is touched.
bool load_clut(const char* path, palette_table& table) {
  (void)table;
  std::FILE* clut = open_for_reading(path);
  if (clut == nullptr) {
    print_cant_open(path);
    return false;
  }
  std::fclose(clut);
  return true;
}
