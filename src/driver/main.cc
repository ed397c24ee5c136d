#include <vector>

#include "driver/driver.h"

#ifdef _WIN32
#include <string>

#include "driver/utf8.h"

// Windows passes the command line to wmain() in UTF-16, which spells any
// name it allows; main() would get it in the ANSI code page, which turns
// 画像.png into ??.png.
int wmain(int argc, wchar_t** argv) {
  std::vector<command_argument> args;
  for (int i = 0; i < argc; ++i) {
    const std::u16string name(argv[i], argv[i] + std::char_traits<wchar_t>::length(argv[i]));
    args.push_back(command_argument{argv[i], utf8_from_utf16(name)});
  }
  return run_palfill(args);
}
#else
int main(int argc, char** argv) {
  std::vector<command_argument> args;
  for (int i = 0; i < argc; ++i) args.push_back(command_argument{argv[i], argv[i]});
  return run_palfill(args);
}
#endif
