// Entry of varnkit-http-server: binds 127.0.0.1, then answers every request
// from the content folder through the rules of http_server.h.
#include "http_server.h"

#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

using httpserver::ServerOptions;
using HandlerResponse = httplib::Server::HandlerResponse;

constexpr const char* program = "varnkit-http-server";

void set_text(httplib::Response& res, int status, const char* text) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

// The page's own scripts, styles and images; the varnkit window's bridge calls its private
// scheme. No inline code, no frames, no framing by other pages.
constexpr const char* content_policy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; font-src 'self'; "
    "connect-src 'self' varnkit-native:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

struct Site {
  std::string root;     // real path of the content folder
  std::string program;  // real path of this executable, which shares the folder but is not content
  std::string key;      // from the varnkit window that started the server; empty: no identity to prove
  int port = 0;
};

bool headers_too_big(const httplib::Request& req) {
  std::size_t bytes = 0;
  for (const auto& [name, value] : req.headers) bytes += name.size() + value.size();
  return req.headers.size() > httpserver::max_header_count || bytes > httpserver::max_header_bytes;
}

void answer(const Site& site, const httplib::Request& req, httplib::Response& res) {
  if (headers_too_big(req)) {
    res.set_header("Connection", "close");
    set_text(res, 431, "431 Request Header Fields Too Large\n");
    return;
  }
  // One Host header naming loopback and our port, or the request may come from a
  // foreign page whose name was rebound to 127.0.0.1.
  if (req.get_header_value_count("Host") != 1 || !httpserver::host_is_loopback(req.get_header_value("Host"), site.port)) {
    set_text(res, 403, "403 Forbidden: this server answers only requests to 127.0.0.1 or localhost on its own port.\n");
    return;
  }
  if (req.method != "GET" && req.method != "HEAD") {
    res.set_header("Allow", "GET, HEAD");
    set_text(res, 405, "405 Method Not Allowed\n");
    return;
  }
  if (req.path == httpserver::identity_path && !site.key.empty()) {
    const std::string proof = httpserver::identity_answer(site.key, req.get_param_value("challenge"));
    if (proof.empty()) {
      set_text(res, 400, "400 Bad Request\n");
      return;
    }
    res.set_header("Cache-Control", "no-store");
    set_text(res, 200, proof.c_str());
    return;
  }
  std::string file;
  int found = httpserver::resolve_request_path(site.root, req.path, file);
  if (found == httpserver::path_malformed) {
    set_text(res, 400, "400 Bad Request\n");
    return;
  }
  std::ifstream in;
  if (found == httpserver::path_file && file != site.program) in.open(file, std::ios::binary);
  if (!in.is_open()) {
    set_text(res, 404, "404 Not Found\n");
    return;
  }
  std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    set_text(res, 500, "500 Internal Server Error\n");
    return;
  }
  // The status stays unset so that the library answers a Range request with 206 and
  // only the bytes asked for; setting 200 would send those bytes as if they were the file.
  res.set_content(std::move(body), httpserver::content_type_for(file));
}

void log_request(const httplib::Request& req, const httplib::Response& res) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // A request line the library could not parse leaves the peer unset.
  std::string peer = req.remote_addr.empty() ? "" : req.remote_addr + ":" + std::to_string(req.remote_port);
  std::string line = httpserver::access_log_line(local, peer, req.method, req.target, res.status, res.body.size());
  // One write per line keeps lines from parallel requests whole.
  std::fwrite(line.data(), 1, line.size(), stderr);
}

// The library's default sets SO_REUSEPORT, which would let a second server
// share the port unnoticed; SO_REUSEADDR only allows rebinding over TIME_WAIT.
void socket_options(socket_t fd) {
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
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
  Site site;
  site.root = real_root.get();
  std::unique_ptr<char, FreeDeleter> program_path(realpath("/proc/self/exe", nullptr));
  if (program_path) site.program = program_path.get();
  if (const char* key = std::getenv(httpserver::key_variable)) site.key = key;

  // A browser that drops a connection must not end the server.
  signal(SIGPIPE, SIG_IGN);

  httplib::Server server;
  server.set_socket_options(socket_options);
  server.set_default_headers({
      {"X-Content-Type-Options", "nosniff"},
      {"Cache-Control", "no-cache"},
      {"Referrer-Policy", "no-referrer"},
      {"Content-Security-Policy", content_policy},
  });
  server.set_logger(log_request);

  errno = 0;
  site.port = options.port;
  bool bound = site.port == 0 ? (site.port = server.bind_to_any_port("127.0.0.1")) > 0
                              : server.bind_to_port("127.0.0.1", site.port);
  if (!bound) {
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
  server.set_pre_routing_handler([site](const httplib::Request& req, httplib::Response& res) {
    answer(site, req, res);
    return HandlerResponse::Handled;
  });

  std::fprintf(stderr, "%s: serving %s at http://127.0.0.1:%d/\n", program, site.root.c_str(), site.port);
  std::fflush(stderr);
  if (!server.listen_after_bind()) {
    std::fprintf(stderr, "%s: stopped listening: %s\n", program, std::strerror(errno));
    return 1;
  }
  return 0;
}
