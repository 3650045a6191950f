#include <cstdio>

#include "import/import.h"

int setup_channel(const char* ip, const std::vector<int32_t>* channel, const std::vector<std::string>* channelcsvfile,
                  const std::vector<std::string>* channelgroupscsvfile,
                  const std::vector<std::string>* channelinputscsvfile) {
  bool any_list = channelcsvfile || channelgroupscsvfile || channelinputscsvfile;
  if (!channel || !ip || !any_list) {
    std::printf("Missing arguments for action setup_channel.");
    return 2;
  }
  std::fprintf(stderr, "setup_channel: not available yet\n");
  return 1;
}
