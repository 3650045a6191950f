// Where the shell finds its neighbours (the local web server, the console tool)
// and where the browser runtime keeps its data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "varnkit_config.h"

// The local web server: recognised only by this executable file name.
inline constexpr char kServerName[] = "varnkit-http-server";
inline constexpr uint16_t kServerPort = VARNKIT_SERVER_PORT;

// The executable path up to, not including, its last '/'; the whole path when it has none.
std::string executable_folder(const std::string& executable_path);
// executable folder + "/http/" (the server's working directory).
std::string server_folder(const std::string& executable_folder);
// executable folder + "/cli/varnu-cli".
std::string console_tool_path(const std::string& executable_folder);

struct RuntimeFolders {
  std::string cache;      // data root + "ccache/"
  std::string user_data;  // data root + "cuserdata/"
};

// The browser runtime's folders under `data_home` + "/KORVANE/"; none when
// `data_home` is empty (the runtime then keeps its own defaults).
std::optional<RuntimeFolders> runtime_folders(const std::string& data_home);

// data root + "server-key": the key of the server the shell started last, kept
// for a later shell that adopts that server; empty when `data_home` is empty.
std::string server_key_file(const std::string& data_home);

// What the shell keeps for the user across runs, under `state_home` + "/varnkit/":
// the run logs ("logs/") and the dialogs' last folders ("dialogs.ini"). Empty
// when `state_home` is empty.
std::string state_folder(const std::string& state_home);
