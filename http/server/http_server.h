// varnkit-http-server: serves the web user interface from one folder on the
// loopback interface. It only serves files: it runs nothing and forwards nothing.
// The request rules and limits live here, apart from the sockets, so they can be tested alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "varnkit_config.h"

namespace httpserver {

constexpr int default_port = VARNKIT_SERVER_PORT;

// The access log is renamed to NAME.1 (replacing the one before) when the next
// line would take it past this size, so it never holds more than twice this.
constexpr std::size_t default_log_size = 1 << 20;
constexpr const char* access_log_name = "http-access.log";

struct ServerOptions {
  std::string root = ".";  // the content folder; the working directory unless --root is given
  int port = default_port; // 0 picks a free port (tests)
  std::string log_folder;  // --log-dir; empty: default_log_folder()
  std::size_t log_size = default_log_size;
};

// The user's state folder for the kit, where the access log goes:
// $XDG_STATE_HOME/varnkit, or $HOME/.local/state/varnkit when XDG_STATE_HOME is
// unset or not absolute; empty when neither gives an absolute path.
std::string default_log_folder(const char* state_home, const char* home);

// Results of parse_server_args.
constexpr int args_run = 0;
constexpr int args_help = 1;   // --help: usage was asked for
constexpr int args_usage = 2;  // wrong command line; `error` says why

// Reads --root DIR, --port N, --log-dir DIR, --log-size BYTES (also --name=VALUE) and --help.
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
// all, are refused with 431: the server has no use for big requests. A longer
// request line gets 414. Both are checked while the request arrives, so no
// more than max_head_bytes of one request is ever kept.
constexpr std::size_t max_header_count = 64;
constexpr std::size_t max_header_bytes = 16384;
constexpr std::size_t max_request_line = 8192;
// Each field may also bring ": " and CRLF; the blank line ends the head.
constexpr std::size_t max_head_bytes = max_request_line + 2 + max_header_bytes + 4 * max_header_count + 2;

// Results of HeadScanner::scan.
constexpr int head_incomplete = 0;
constexpr int head_complete = 1;    // `end` is the offset just past the blank line
constexpr int head_too_big = 431;   // too many or too long header fields
constexpr int head_line_too_long = 414;

// Finds the end of a request head in a buffer that grows as bytes arrive,
// looking at each byte once. Lines end in LF or CRLF.
class HeadScanner {
 public:
  int scan(const std::string& buffer, std::size_t& end);
  void reset() { *this = HeadScanner(); }

 private:
  std::size_t line_start_ = 0;
  std::size_t scanned_ = 0;
  std::size_t lines_ = 0;
};

struct RequestHead {
  std::string method;
  std::string target;  // as sent, for the log
  std::string path;    // the target up to '?', percent-decoded
  std::string query;   // after '?', as sent
  bool http10 = false;
  std::vector<std::pair<std::string, std::string>> fields;  // names in lower case

  std::size_t count(const std::string& name) const;
  // The first value of the field, or "" when absent.
  std::string value(const std::string& name) const;
};

// Parses a complete head (as delimited by HeadScanner). Returns 0, or the
// status to refuse it with: 400 (malformed), 431 (too many or too big fields).
int parse_request_head(const std::string& head, RequestHead& request);

// The first value of `name` in a query ("a=1&b=2"), percent- and '+'-decoded.
std::string query_value(const std::string& query, const std::string& name);

// Range requests: at most this many ranges, merged and never more bytes than the file holds.
constexpr std::size_t max_ranges = 8;

struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;  // inclusive
};

// Results of parse_ranges.
constexpr int ranges_whole = 0;          // no usable Range field: answer with the whole file
constexpr int ranges_partial = 1;        // `ranges`: 1 to max_ranges, sorted, not overlapping or touching
constexpr int ranges_unsatisfiable = 2;  // 416: none lies in the file, or more than max_ranges

// Reads a Range field value ("bytes=0-9,20-", "bytes=-5") for a file of `size`
// bytes. A field that is not a byte range is ignored, as HTTP allows.
int parse_ranges(const std::string& field, std::uint64_t size, std::vector<ByteRange>& ranges);

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

// Connection limits. Every client is on 127.0.0.1, so connections are told
// apart by the local account that owns the client's socket (see
// peer_account.cpp); connections of the server's own account (the varnkit
// window) are never limited per account.
constexpr std::size_t max_connections = 256;
constexpr std::size_t max_connections_per_other_account = 16;
// A connection has this long to send a complete request head after it opened
// or after its previous answer went out, which also ends idle keep-alive.
constexpr int request_head_seconds = 5;
// An answer that the client does not take for this long is dropped.
constexpr int send_stall_seconds = 10;

// One open connection as the admission rule sees it.
struct OpenConnection {
  long account = 0;        // the owning user id of the client's socket
  bool answering = false;  // an answer is being sent; otherwise it waits for a request
  std::uint64_t opened = 0;  // increasing with each accepted connection
};

// Results of admit: keep the newcomer, or close it.
constexpr long admit_refused = -1;

// Decides about a new connection from `account` given the open ones. Returns
// the index of an open connection to close to make room (then the newcomer is
// kept), open.size() when it fits as it is, or admit_refused. Room is made by
// closing a connection that waits for a request, never one being answered:
// for an account at its own limit, its oldest waiting one; when all
// max_connections are taken, the oldest waiting one of the account holding
// the most connections, so a flood from one account only displaces itself.
long admit(const std::vector<OpenConnection>& open, long account, long own_account);

// One access-log line, '\n' included:
// "2026-12-07 20:10:42 127.0.0.1:50312 GET /app.css 200 2345".
// Control and non-ASCII bytes of the client's text are written as \xHH, so a
// request can neither split the line nor forge another one.
std::string access_log_line(const std::tm& when, const std::string& peer, const std::string& method,
                            const std::string& target, int status, std::size_t bytes);

}  // namespace httpserver
