#include "http_server.h"

#include <cstring>

namespace httpserver {

namespace {

bool parse_port(const char* text, int& port) {
  if (*text == '\0' || std::strlen(text) > 5) return false;
  long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
  }
  if (value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

// A size in bytes from 1 KiB to 1 GiB: a smaller log could not hold a line or two.
bool parse_size(const char* text, std::size_t& size) {
  if (*text == '\0' || std::strlen(text) > 10) return false;
  unsigned long long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<unsigned long long>(*p - '0');
  }
  if (value < 1024 || value > (1ull << 30)) return false;
  size = static_cast<std::size_t>(value);
  return true;
}

// Matches "--name VALUE" and "--name=VALUE"; advances i past a separate value.
// Returns 1 when matched, 0 when not this option, -1 when the value is missing.
int option_value(int argc, const char* const* argv, int& i, const char* name, const char*& value) {
  const char* arg = argv[i];
  std::size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0) return 0;
  if (arg[n] == '=') {
    value = arg + n + 1;
    return 1;
  }
  if (arg[n] != '\0') return 0;
  if (i + 1 >= argc) return -1;
  value = argv[++i];
  return 1;
}

}  // namespace

const char* usage_text() {
  return "Usage: varnkit-http-server [--root DIR] [--port N] [--log-dir DIR] [--log-size BYTES]\n"
         "Serves the web user interface in DIR (default: the working directory)\n"
         "at http://127.0.0.1:N/ (default port " VARNKIT_SERVER_PORT_TEXT "; 0 picks a free port).\n"
         "Writes one line per request to http-access.log in the --log-dir folder\n"
         "(default: $XDG_STATE_HOME/varnkit, else ~/.local/state/varnkit), moved to\n"
         "http-access.log.1 when it reaches --log-size bytes (default 1048576).\n";
}

std::string default_log_folder(const char* state_home, const char* home) {
  if (state_home && state_home[0] == '/') return std::string(state_home) + "/varnkit";
  if (home && home[0] == '/') return std::string(home) + "/.local/state/varnkit";
  return {};
}

int parse_server_args(int argc, const char* const* argv, ServerOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) return args_help;
    const char* value = nullptr;
    int found = option_value(argc, argv, i, "--root", value);
    if (found == 1) {
      if (*value == '\0') {
        error = "--root needs a folder";
        return args_usage;
      }
      options.root = value;
      continue;
    }
    if (found == 0) found = option_value(argc, argv, i, "--port", value);
    if (found == 1) {
      if (!parse_port(value, options.port)) {
        error = std::string("--port needs a number from 0 to 65535, not \"") + value + "\"";
        return args_usage;
      }
      continue;
    }
    if (found == 0) found = option_value(argc, argv, i, "--log-dir", value);
    if (found == 1) {
      if (*value == '\0') {
        error = "--log-dir needs a folder";
        return args_usage;
      }
      options.log_folder = value;
      continue;
    }
    if (found == 0) found = option_value(argc, argv, i, "--log-size", value);
    if (found == 1) {
      if (!parse_size(value, options.log_size)) {
        error = std::string("--log-size needs a number of bytes from 1024 to 1073741824, not \"") + value + "\"";
        return args_usage;
      }
      continue;
    }
    error = found < 0 ? std::string(arg) + " needs a value" : std::string("unknown argument \"") + arg + "\"";
    return args_usage;
  }
  return args_run;
}

}  // namespace httpserver
