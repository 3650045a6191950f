#include <cstdio>

#include "action/action.h"

int put_backup(const char* ip, const char*) {
  if (!ip) {
    std::printf("Missing arguments for action put_backup.");
    return 2;
  }
  std::fprintf(stderr, "put_backup: not available yet\n");
  return 1;
}
