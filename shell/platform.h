// The desktop shell's only door to the operating system: its own location,
// other processes, the user's data folder, loopback connections and signals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace shell_platform {

// Full path of the running executable; empty when the system does not tell.
std::string executable_path();

struct ProcessEntry {
  uint32_t pid;
  std::string file_name;  // real file name of the process's executable, without its folder
};

// Every process whose executable this user may read, in ascending id order.
std::vector<ProcessEntry> process_snapshot();

// Starts `program` without arguments in a session of its own (no terminal), with
// `folder` as working directory and the standard streams on the null device.
bool start_hidden(const std::string& program, const std::string& folder);

// True when process `pid` runs as the same user as this process.
bool same_user(uint32_t pid);

// Asks process `pid` to end, waits up to `wait_ms` for it to be gone and then
// kills it. True when it is gone.
bool terminate_process(uint32_t pid, unsigned wait_ms);

// The user's data folder: $XDG_DATA_HOME when it is an absolute path, else the
// home folder + "/.local/share"; empty when no home folder can be resolved.
std::string user_data_home();

// Waits until something accepts TCP connections on 127.0.0.1:`port`, at most
// `timeout_ms`. True when a connection was accepted.
bool wait_for_loopback_port(uint16_t port, unsigned timeout_ms);

bool running_as_root();

// A descriptor that becomes readable once SIGINT, SIGTERM or SIGHUP arrived
// (the handlers are installed by the first call); -1 when it cannot be made.
int termination_signal_fd();

}  // namespace shell_platform
