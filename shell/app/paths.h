// Where the shell finds its neighbours (the local web server, the console tool)
// and where the browser runtime keeps its data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "varnkit_config.h"

// The local web server's executable, beside the shell in "http/".
inline constexpr char kServerName[] = "varnkit-http-server";
inline constexpr uint16_t kServerPort = VARNKIT_SERVER_PORT;

// executable folder + "/http/" (the server's working directory).
std::string server_folder(const std::string& executable_folder);
// executable folder + "/cli/varnu-cli".
std::string console_tool_path(const std::string& executable_folder);
// executable folder + "/cli/varnu-site": the site program sits beside the console tool.
std::string site_tool_path(const std::string& executable_folder);

struct RuntimeFolders {
  std::string cache;      // data root + "ccache/"
  std::string user_data;  // data root + "cuserdata/"
};

// The browser runtime's folders under `data_home` + "/KORVANE/"; none when
// `data_home` is empty (the runtime then keeps its own defaults).
std::optional<RuntimeFolders> runtime_folders(const std::string& data_home);

// What the shell keeps for the user across runs, under `state_home` + "/varnkit/":
// the run logs ("logs/"), the dialogs' last folders ("dialogs.ini") and the
// socket a second start finds the running shell by ("instance"). Empty when
// `state_home` is empty.
std::string state_folder(const std::string& state_home);
