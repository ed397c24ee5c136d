// palfill: one image, `palfill in.png [in.clt] out.png` (see command.h).
#include "command.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return palfill::run_palfill(palfill::command_line(argc, argv));
}
#else
int main(int argc, char** argv) {
  return palfill::run_palfill(palfill::command_line(argc, argv));
}
#endif
