// varnkit-http-server: serves the web user interface from one folder on the
// loopback interface. It only serves files: it runs nothing and forwards nothing.
// The request rules live here, apart from the HTTP library, so they can be tested alone.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "varnkit_config.h"

namespace httpserver {

constexpr int default_port = VARNKIT_SERVER_PORT;

struct ServerOptions {
  std::string root = ".";  // the content folder; the working directory unless --root is given
  int port = default_port; // 0 picks a free port (tests)
};

// Results of parse_server_args.
constexpr int args_run = 0;
constexpr int args_help = 1;   // --help: usage was asked for
constexpr int args_usage = 2;  // wrong command line; `error` says why

// Reads --root DIR, --port N (also --root=DIR, --port=N) and --help.
int parse_server_args(int argc, const char* const* argv, ServerOptions& options, std::string& error);

const char* usage_text();

// True when `host`, the value of a request's Host header, names this server:
// "localhost", an IPv4 loopback address or [::1], followed by `port` (a missing
// port means 80). Anything else may be a foreign site reached through DNS rebinding.
bool host_is_loopback(const std::string& host, int port);

// Results of resolve_request_path.
constexpr int path_file = 0;       // `file` is a regular file inside the root
constexpr int path_not_found = 1;  // nothing servable there (missing, a directory, outside the root)
constexpr int path_malformed = 2;  // not a path a browser sends: no leading '/', NUL, '\', "." or ".." segments

// Maps a decoded request path ("/", "/app.css") onto a file under `root`, which
// must be an absolute path without symlinks. A path ending in '/' means its
// index.html. The file's real location must lie inside the root, so symlinks
// that lead out are not followed.
int resolve_request_path(const std::string& root, const std::string& path, std::string& file);

// Requests with more header fields, or more header bytes (names and values) in
// all, are refused with 431: the server has no use for big requests.
constexpr std::size_t max_header_count = 64;
constexpr std::size_t max_header_bytes = 16384;

// The path on which a server started with a key proves that it holds it, and
// the environment variable that hands it the key.
constexpr const char* identity_path = "/.varnkit/identity";
constexpr const char* key_variable = "VARNKIT_SERVER_KEY";

// The answer to GET identity_path?challenge=CHALLENGE: lower-case hex of
// HMAC-SHA256 over the challenge with `key`. Empty when the challenge is not
// 16 to 128 hex digits, so nobody can have arbitrary texts signed.
std::string identity_answer(const std::string& key, const std::string& challenge);

// The Content-Type for a file name, by its extension.
const char* content_type_for(const std::string& file);

// One access-log line, '\n' included:
// "2026-12-07 20:10:42 127.0.0.1:50312 GET /app.css 200 2345".
// Control and non-ASCII bytes of the client's text are written as \xHH, so a
// request can neither split the line nor forge another one.
std::string access_log_line(const std::tm& when, const std::string& peer, const std::string& method,
                            const std::string& target, int status, std::size_t bytes);

}  // namespace httpserver
