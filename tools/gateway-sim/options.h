// Command line of gateway-sim.
#pragma once

#include <string>

#include "gateway.h"

namespace sim {

struct Options {
  int port = 0;  // 0: any free number that is free for both TCP and UDP
  std::string log_path;
};

// Reads the command line into `options` and the gateway's identity, state
// folder and faults. 0 to run, 1 after printing the usage (--help), 2 on an
// error (message on stderr).
int parse_options(int argc, char** argv, Options* options, Gateway* gateway);

}  // namespace sim
