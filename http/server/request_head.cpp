#include "http_server.h"

namespace httpserver {

int HeadScanner::scan(const std::string& buffer, std::size_t& end) {
  for (; scanned_ < buffer.size(); ++scanned_) {
    if (buffer[scanned_] != '\n') {
      std::size_t length = scanned_ + 1 - line_start_;
      if (lines_ == 0 && length > max_request_line + 2) return head_line_too_long;
      if (lines_ > 0 && length > max_header_bytes + 4) return head_too_big;
      continue;
    }
    std::size_t length = scanned_ - line_start_;
    if (length > 0 && buffer[scanned_ - 1] == '\r') --length;
    line_start_ = scanned_ + 1;
    if (length == 0 && lines_ > 0) {
      end = scanned_ + 1;
      return head_complete;
    }
    // Blank lines before the request line are allowed; they count as the request line would.
    if (length > 0 || lines_ > 0) ++lines_;
    if (lines_ > max_header_count + 1) return head_too_big;
  }
  return buffer.size() > max_head_bytes ? head_too_big : head_incomplete;
}

namespace {

bool is_token_char(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  for (const char* p = "!#$%&'*+-.^_`|~"; *p; ++p) {
    if (c == *p) return true;
  }
  return false;
}

bool is_token(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!is_token_char(c)) return false;
  }
  return true;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decodes `text`; false on a '%' without two hex digits.
bool percent_decode(const std::string& text, bool plus_is_space, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      int high = hex_value(text[i + 1]);
      int low = hex_value(text[i + 2]);
      if (high < 0 || low < 0) return false;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += plus_is_space && c == '+' ? ' ' : c;
    }
  }
  return true;
}

std::string trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

int parse_request_line(const std::string& line, RequestHead& request) {
  std::size_t first_space = line.find(' ');
  std::size_t second_space = first_space == std::string::npos ? first_space : line.find(' ', first_space + 1);
  if (second_space == std::string::npos) return 400;
  request.method = line.substr(0, first_space);
  request.target = line.substr(first_space + 1, second_space - first_space - 1);
  std::string version = line.substr(second_space + 1);
  if (!is_token(request.method) || request.target.empty()) return 400;
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return 400;
  request.http10 = version == "HTTP/1.0";
  std::size_t question = request.target.find('?');
  if (question != std::string::npos) request.query = request.target.substr(question + 1);
  if (!percent_decode(request.target.substr(0, question), false, request.path)) return 400;
  return 0;
}

}  // namespace

std::size_t RequestHead::count(const std::string& name) const {
  std::size_t n = 0;
  for (const auto& field : fields) n += field.first == name;
  return n;
}

std::string RequestHead::value(const std::string& name) const {
  for (const auto& field : fields) {
    if (field.first == name) return field.second;
  }
  return {};
}

int parse_request_head(const std::string& head, RequestHead& request) {
  request = RequestHead();
  std::size_t header_bytes = 0;
  bool seen_request_line = false;
  std::size_t start = 0;
  while (start < head.size()) {
    std::size_t newline = head.find('\n', start);
    if (newline == std::string::npos) newline = head.size();
    std::string line = head.substr(start, newline - start);
    start = newline + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!seen_request_line) {
      if (line.empty()) continue;
      if (int refused = parse_request_line(line, request)) return refused;
      seen_request_line = true;
      continue;
    }
    if (line.empty()) break;
    // A continuation line (obsolete folding) or a name with space before the colon.
    std::size_t colon = line.find(':');
    if (colon == std::string::npos || !is_token(line.substr(0, colon))) return 400;
    std::string name = line.substr(0, colon);
    for (char& c : name) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    std::string value = trimmed(line.substr(colon + 1));
    header_bytes += name.size() + value.size();
    request.fields.emplace_back(std::move(name), std::move(value));
  }
  if (!seen_request_line) return 400;
  if (request.fields.size() > max_header_count || header_bytes > max_header_bytes) return 431;
  return 0;
}

std::string query_value(const std::string& query, const std::string& name) {
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string pair = query.substr(start, end - start);
    std::size_t equals = pair.find('=');
    std::string key;
    std::string value;
    if (percent_decode(pair.substr(0, equals), true, key) && key == name) {
      if (equals == std::string::npos) return {};
      return percent_decode(pair.substr(equals + 1), true, value) ? value : std::string();
    }
    start = end + 1;
  }
  return {};
}

}  // namespace httpserver
