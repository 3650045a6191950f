// Entry of varnkit-http-server: binds 127.0.0.1, opens the access log, then
// answers every request from the content folder (server_loop.h).
#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "http_server.h"
#include "server_loop.h"

namespace {

using httpserver::ServerOptions;

constexpr const char* program = "varnkit-http-server";

// Only SO_REUSEADDR (rebinding over TIME_WAIT), never SO_REUSEPORT, which would
// let a second server share the port unnoticed. Returns the bound port, or 0 with errno set.
int listen_on_loopback(httpserver::Descriptor& listener, int port) {
  listener = httpserver::Descriptor(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listener) return 0;
  int yes = 1;
  setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
      listen(listener.get(), SOMAXCONN) != 0 ||
      getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
    return 0;
  return ntohs(address.sin_port);
}

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

}  // namespace

int main(int argc, char** argv) {
  ServerOptions options;
  std::string error;
  int parsed = httpserver::parse_server_args(argc, argv, options, error);
  if (parsed == httpserver::args_help) {
    std::fputs(httpserver::usage_text(), stdout);
    return 0;
  }
  if (parsed != httpserver::args_run) {
    std::fprintf(stderr, "%s: %s\n%s", program, error.c_str(), httpserver::usage_text());
    return 2;
  }

  std::unique_ptr<char, FreeDeleter> real_root(realpath(options.root.c_str(), nullptr));
  struct stat root_info{};
  if (!real_root || stat(real_root.get(), &root_info) != 0 || !S_ISDIR(root_info.st_mode)) {
    std::fprintf(stderr, "%s: cannot serve \"%s\": %s\n", program, options.root.c_str(),
                 real_root ? "not a folder" : std::strerror(errno));
    return 1;
  }
  httpserver::Site site;
  site.root = real_root.get();
  std::unique_ptr<char, FreeDeleter> program_path(realpath("/proc/self/exe", nullptr));
  if (program_path) site.program = program_path.get();
  if (const char* key = std::getenv(httpserver::key_variable)) site.key = key;

  // A browser that drops a connection must not end the server.
  signal(SIGPIPE, SIG_IGN);

  httpserver::Descriptor listener;
  errno = 0;
  site.port = listen_on_loopback(listener, options.port);
  if (site.port == 0) {
    int why = errno;
    if (why == EADDRINUSE) {
      std::fprintf(stderr, "%s: port %d on 127.0.0.1 is already in use; is another varnkit-http-server running?\n",
                   program, options.port);
    } else {
      std::fprintf(stderr, "%s: cannot listen on 127.0.0.1:%d: %s\n", program, options.port,
                   why ? std::strerror(why) : "unknown error");
    }
    return 1;
  }

  std::string log_folder = options.log_folder.empty()
                               ? httpserver::default_log_folder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"))
                               : options.log_folder;
  httpserver::AccessLog log;
  std::string log_error = log_folder.empty() ? "no state folder (neither XDG_STATE_HOME nor HOME is set)" : "";
  bool logging = !log_folder.empty() && log.open(log_folder, options.log_size, log_error);

  std::fprintf(stderr, "%s: serving %s at http://127.0.0.1:%d/\n", program, site.root.c_str(), site.port);
  if (logging) {
    std::fprintf(stderr, "%s: access log %s/%s\n", program, log_folder.c_str(), httpserver::access_log_name);
  } else {
    std::fprintf(stderr, "%s: no access log in \"%s\": %s; requests are logged here\n", program, log_folder.c_str(),
                 log_error.c_str());
  }
  std::fflush(stderr);
  httpserver::serve(listener.get(), site, log);
  std::fprintf(stderr, "%s: stopped listening: %s\n", program, std::strerror(errno));
  return 1;
}
