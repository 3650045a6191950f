#include "app/switches.h"

ShellSwitches parse_switches(const std::vector<std::string>& arguments) {
  ShellSwitches switches;
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    const std::size_t prefix = argument.rfind("--", 0) == 0 ? 2 : argument.rfind('-', 0) == 0 ? 1 : 0;
    if (prefix == 0 || argument.size() == prefix) continue;
    const std::size_t equals = argument.find('=', prefix);
    const std::string name = argument.substr(prefix, equals == std::string::npos ? std::string::npos : equals - prefix);
    const std::string value = equals == std::string::npos ? std::string() : argument.substr(equals + 1);
    if (name == "use-views") switches.use_views = true;
    if (name == "url") switches.url = value;
  }
  return switches;
}

std::string start_url(const ShellSwitches& switches) {
  return switches.url.empty() ? std::string(kDefaultStartUrl) : switches.url;
}
