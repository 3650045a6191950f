// The shell's command-line switches: "--use-views" and "--url=VALUE".
#pragma once

#include <string>
#include <vector>

#include "varnkit_config.h"

inline constexpr char kDefaultStartUrl[] = "http://127.0.0.1:" VARNKIT_SERVER_PORT_TEXT "/";

struct ShellSwitches {
  bool use_views = false;
  std::string url;  // empty: not given or given without a value
};

// Reads the switches the way the browser runtime does: "--name" or "-name",
// a value after the first '=', a later switch overriding an earlier one,
// and nothing after a lone "--". Other switches and plain arguments are ignored.
ShellSwitches parse_switches(const std::vector<std::string>& arguments);

// The url switch's value, or the local web server's root when it is empty.
std::string start_url(const ShellSwitches& switches);
