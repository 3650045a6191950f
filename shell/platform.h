// The desktop shell's only door to the operating system: its own location,
// other processes, the user's data folder, loopback connections and signals.
#pragma once

#include <cstdint>
#include <optional>
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
// `folder` as working directory, the standard streams on the null device and
// the entries "NAME=value" of `extra_environment` added to this process's environment.
bool start_hidden(const std::string& program, const std::string& folder,
                  const std::vector<std::string>& extra_environment);

// True when process `pid` runs as the same user as this process.
bool same_user(uint32_t pid);

// Asks process `pid` to end, waits up to `wait_ms` for it to be gone and then
// kills it. True when it is gone.
bool terminate_process(uint32_t pid, unsigned wait_ms);

// The user's data folder: $XDG_DATA_HOME when it is an absolute path, else the
// home folder + "/.local/share"; empty when no home folder can be resolved.
std::string user_data_home();

// The user's state folder: $XDG_STATE_HOME when it is an absolute path, else the
// home folder + "/.local/state"; empty when no home folder can be resolved.
std::string user_state_home();

// Waits until something accepts TCP connections on 127.0.0.1:`port`, at most
// `timeout_ms`. True when a connection was accepted.
bool wait_for_loopback_port(uint16_t port, unsigned timeout_ms);

// The body of a 200 answer to "GET `target`" on 127.0.0.1:`port` (Host header
// "127.0.0.1:`port`"), read within `timeout_ms`; none for any other answer or none at all.
std::optional<std::string> loopback_http_get(uint16_t port, const std::string& target, unsigned timeout_ms);

// `count` bytes from the system's random source as lower-case hex; empty when it fails.
std::string random_hex(std::size_t count);

// Replaces `path` with a file that only this user may read and write, holding `text`;
// creates the missing folders on the way. False when it fails.
bool write_private_file(const std::string& path, const std::string& text);

// Hands `url` to the desktop's web browser without waiting: runs the program that
// VARNKIT_SYSTEM_BROWSER names (tests), else xdg-open, with the URL as its one argument.
bool open_in_system_browser(const std::string& url);

bool running_as_root();

// A descriptor that becomes readable once SIGINT, SIGTERM or SIGHUP arrived
// (the handlers are installed by the first call); -1 when it cannot be made.
int termination_signal_fd();

}  // namespace shell_platform
