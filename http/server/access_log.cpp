#include "http_server.h"

#include <cstdio>

namespace httpserver {

namespace {

// Long enough for any path of the user interface; a longer one is cut so that
// no single request can flood the log.
constexpr std::size_t max_logged_text = 512;

void append_escaped(std::string& line, const std::string& text) {
  if (text.empty()) {
    line += '-';
    return;
  }
  std::size_t n = text.size() < max_logged_text ? text.size() : max_logged_text;
  for (std::size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c <= 0x20 || c >= 0x7f || c == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      line += escaped;
    } else {
      line += static_cast<char>(c);
    }
  }
  if (n < text.size()) line += "...";
}

}  // namespace

std::string access_log_line(const std::tm& when, const std::string& peer, const std::string& method,
                            const std::string& target, int status, std::size_t bytes) {
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &when);
  std::string line = stamp;
  line += ' ';
  append_escaped(line, peer);
  line += ' ';
  append_escaped(line, method);
  line += ' ';
  append_escaped(line, target);
  line += ' ' + std::to_string(status) + ' ' + std::to_string(bytes) + '\n';
  return line;
}

}  // namespace httpserver
