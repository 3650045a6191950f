// Command line of gateway-sim.
#pragma once

#include <string>
#include <vector>

#include "gateway.h"

namespace sim {

struct Options {
  int port = 0;  // 0: any free number that is free for both TCP and UDP
  std::string log_path;
  std::string gateways_path;  // --gateways: one line of options per gateway
};

// Reads the command line into `options` and the gateway's identity, state
// folder and faults. 0 to run, 1 after printing the usage (--help), 2 on an
// error (message on stderr).
int parse_options(int argc, char** argv, Options* options, Gateway* gateway);
// The option lines of a --gateways file, each split into words (comments and
// blank lines left out); false (with a message on stderr) when it cannot be read.
bool read_gateway_lines(const std::string& path, std::vector<std::vector<std::string>>* lines);

}  // namespace sim
