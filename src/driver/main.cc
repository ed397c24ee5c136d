#include <vector>

#include "driver/driver.h"

int main(int argc, char** argv) {
  std::vector<command_argument> args;
  for (int i = 0; i < argc; ++i) args.push_back(command_argument{argv[i], argv[i]});
  return run_palfill(args);
}
