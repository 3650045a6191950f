#include <cstdio>

#include "firmware/firmware.h"

int push_firmware(const char* ip, const char*) {
  if (!ip) {
    std::printf("Missing arguments for action push_firmware.");
    return 2;
  }
  std::fprintf(stderr, "push_firmware: not available yet\n");
  return 1;
}
