#include <iostream>

#include "cli/cli_app.h"
#include "disk/disk_access.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunCli(args, RunningProgramFolder(argv[0]), std::cout, std::cerr);
}
