#include "server.h"

#include "paths.h"
#include "platform.h"

namespace {

constexpr unsigned kReadyTimeoutMs = 1000;
constexpr unsigned kStopTimeoutMs = 10000;

}  // namespace

uint32_t FindProcessIdByName(const std::string& name) {
  const std::string file_name = name.substr(name.rfind('/') + 1);
  for (const shell_platform::ProcessEntry& process : shell_platform::process_snapshot()) {
    if (process.file_name == file_name) return process.pid;
  }
  return 0;
}

void StartServer() {
  if (FindProcessIdByName(kServerName) == 0) {
    const std::string folder = server_folder(executable_folder(shell_platform::executable_path()));
    if (!shell_platform::start_hidden(folder + kServerName, folder)) return;
  }
  shell_platform::wait_for_loopback_port(kServerPort, kReadyTimeoutMs);
}

void StopServer() {
  const uint32_t pid = FindProcessIdByName(kServerName);
  if (pid != 0 && shell_platform::same_user(pid)) shell_platform::terminate_process(pid, kStopTimeoutMs);
}
