#include <cstdio>

#include "main/cli.h"

int run_cli(int, char**) {
  std::printf("varnu-cli\n");
  return 0;
}
