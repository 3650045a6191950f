// For tests and benchmarks: a gateway-sim process on a free port of 127.0.0.1.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class GatewayProcess {
 public:
  // Starts build/tools/gateway-sim/gateway-sim --port 0 with these extra options.
  explicit GatewayProcess(const std::vector<std::string>& options = {});
  // Stops it with SIGTERM.
  ~GatewayProcess();
  GatewayProcess(const GatewayProcess&) = delete;
  GatewayProcess& operator=(const GatewayProcess&) = delete;

  bool running() const { return port_ > 0; }
  int port() const { return port_; }
  // The --ip value that reaches it: "127.0.0.1:PORT".
  const std::string& address() const { return address_; }
  // The request log so far, one line each.
  std::vector<std::string> log_lines() const;
  // Waits until a log line starts with `prefix`; returns it, or "" after the timeout.
  std::string wait_for_log(const std::string& prefix, int timeout_ms = 10000) const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string address_;
  std::string folder_;
  std::string log_path_;
};

// Starts a program found on PATH (or given by path) with these arguments; -1 on failure.
pid_t spawn_process(std::vector<std::string> args);
// Runs a program to its end; its exit status, -1 when it could not run or was killed.
int run_process(std::vector<std::string> args);
