#include <cstdio>

#include "action/action.h"

int get_backup(const char* ip, const char*, const char*, const std::vector<std::string>*) {
  if (!ip) {
    std::printf("Missing arguments for action get_backup.");
    return 2;
  }
  std::fprintf(stderr, "get_backup: not available yet\n");
  return 1;
}
