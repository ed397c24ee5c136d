// palfill-tree: a whole folder of images, `palfill-tree [-j N] [--clut
// FILE] IN_DIR OUT_DIR` (see tree_command.h).
#include "tree_command.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return palfill::run_palfill_tree(palfill::command_line(argc, argv));
}
#else
int main(int argc, char** argv) {
  return palfill::run_palfill_tree(palfill::command_line(argc, argv));
}
#endif
