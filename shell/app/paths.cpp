#include "app/paths.h"

std::string server_folder(const std::string& executable_folder) { return executable_folder + "/http/"; }

std::string console_tool_path(const std::string& executable_folder) { return executable_folder + "/cli/varnu-cli"; }

std::string site_tool_path(const std::string& executable_folder) { return executable_folder + "/cli/varnu-site"; }

namespace {

// `data_home` + "/KORVANE/", with no doubled '/'.
std::string data_root(const std::string& data_home) {
  std::string root = data_home;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root != "/") root += '/';
  return root + "KORVANE/";
}

}  // namespace

std::optional<RuntimeFolders> runtime_folders(const std::string& data_home) {
  if (data_home.empty()) return std::nullopt;
  const std::string root = data_root(data_home);
  return RuntimeFolders{root + "ccache/", root + "cuserdata/"};
}

std::string state_folder(const std::string& state_home) {
  return state_home.empty() ? std::string() : state_home + "/varnkit/";
}
