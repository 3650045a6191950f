#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gateway.h"

namespace sim {

const ConfigurationFile kConfigurations[kConfigurationCount] = {
    {0, "systemconfig", "systemconfig.tar", "/etc/config/system/systemconfig.bin"},
    {1, "dali1", "dali1.tar", "/etc/config/dali/dali1.bin"},
    {2, "dali2", "dali2.tar", "/etc/config/dali/dali2.bin"},
    {3, "dali3", "dali3.tar", "/etc/config/dali/dali3.bin"},
    {4, "dali4", "dali4.tar", "/etc/config/dali/dali4.bin"},
    {5, "cd1", "cd1.tar", "/etc/config/dali/cd1.bin"},
    {6, "cd2", "cd2.tar", "/etc/config/dali/cd2.bin"},
    {7, "cd3", "cd3.tar", "/etc/config/dali/cd3.bin"},
    {8, "cd4", "cd4.tar", "/etc/config/dali/cd4.bin"},
    {9, "schedules", "schedules.tar", "/etc/config/schedule/schedule.bin"},
    {10, "schedulesastro", "schedulesastro.tar", "/etc/config/schedule/scheduleastro.bin"},
    {11, "rlc", "rlc.tar", "/etc/config/rlc/rlc.bin"},
    {12, "commanders", "commanders.tar", "/etc/config/cmdr/cmdr.bin"},
    {13, "system_ui32", "system_ui32.tar", "/etc/config/nvp/system_ui32.bin"},
    {14, "dalv", "dalv.tar", "/etc/config/nvp/dalv.bin"},
    {15, "daeu", "daeu.tar", "/etc/config/nvp/daeu.bin"},
    {16, "daeutr", "daeutr.tar", "/etc/config/nvp/daeutr.bin"},
    {17, "daeutc", "daeutc.tar", "/etc/config/nvp/daeutc.bin"},
    {18, "dacdlcm", "dacdlcm.tar", "/etc/config/nvp/dacdlcm.bin"},
    {19, "dacdlcr", "dacdlcr.tar", "/etc/config/nvp/dacdlcr.bin"},
    {20, "rlcnamenvp", "rlcnamenvp.tar", "/etc/config/nvp/rlcnamenvp.bin"},
    {21, "cmdrnamenvp", "cmdrnamenvp.tar", "/etc/config/nvp/cmdrnamenvp.bin"},
};

const ConfigurationFile* find_configuration(const std::string& name) {
  for (const auto& entry : kConfigurations)
    if (name == entry.name) return &entry;
  return nullptr;
}

namespace {

namespace fs = std::filesystem;

// The gateway path mirrored under the state folder: DIR/etc/config/dali/dali1.bin.
fs::path state_path(const Gateway& gateway, const std::string& path) { return fs::path(gateway.state_dir) / path.substr(1); }

bool read_file(const fs::path& file, std::vector<uint8_t>* content) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool write_file(const fs::path& file, const std::vector<uint8_t>& content) {
  std::error_code error;
  fs::create_directories(file.parent_path(), error);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "gateway-sim: cannot write %s: %s\n", file.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

bool load_configuration(Gateway& gateway) {
  seed_configuration(gateway);
  if (gateway.state_dir.empty()) return true;
  for (const auto& entry : kConfigurations) {
    fs::path file = state_path(gateway, entry.path);
    std::error_code error;
    if (fs::exists(file, error)) {
      if (!read_file(file, &gateway.files[entry.path])) {
        std::fprintf(stderr, "gateway-sim: cannot read %s\n", file.c_str());
        return false;
      }
    } else if (!write_file(file, gateway.files[entry.path])) {
      return false;
    }
  }
  return true;
}

const std::vector<uint8_t>* configuration_file(Gateway& gateway, const std::string& path) {
  auto found = gateway.files.find(path);
  if (found == gateway.files.end()) return nullptr;
  // Tests may have changed the folder since start; a file that vanished keeps the last content.
  if (!gateway.state_dir.empty()) read_file(state_path(gateway, path), &found->second);
  return &found->second;
}

bool store_configuration_file(Gateway& gateway, const std::string& path, std::vector<uint8_t> content) {
  auto found = gateway.files.find(path);
  if (found == gateway.files.end()) return false;
  found->second = std::move(content);
  return gateway.state_dir.empty() || write_file(state_path(gateway, path), found->second);
}

}  // namespace sim
