// Channel setup from CSV files: the three imports and the setup_channel action.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Action "setup_channel". Lists are nullptr when absent; a 0 in `channel` ends it.
int setup_channel(const char* ip, const std::vector<int32_t>* channel, const std::vector<std::string>* channelcsvfile,
                  const std::vector<std::string>* channelgroupscsvfile,
                  const std::vector<std::string>* channelinputscsvfile);
