#include "gateway_status.h"

#include <sstream>

#include "json/json.h"
#include "tool_command.h"

namespace {

// The members of a flat object of strings, in order; none for any other text.
std::optional<std::vector<std::pair<std::string, std::string>>> string_members(const std::string& text) {
  json::JsonReader reader;
  json::open_bytes(reader, text.data(), text.size());
  std::vector<std::pair<std::string, std::string>> members;
  bool complete = json::next_token(reader) == json::Token::ObjectStart;
  while (complete) {
    const json::Token name = json::next_token(reader);
    if (name == json::Token::ObjectEnd) break;
    const std::string member = json::token_text(reader);
    complete = name == json::Token::String && json::next_token(reader) == json::Token::String;
    if (complete) members.emplace_back(member, json::token_text(reader));
  }
  complete = complete && json::next_token(reader) == json::Token::Done;
  json::close(reader);
  if (!complete) return std::nullopt;
  return members;
}

std::string strip_line_end(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(strip_line_end(line));
  return lines;
}

}  // namespace

std::vector<std::string> status_arguments(const std::string& address) {
  return {"--action", "get_status", "--ip", address, "--json"};
}

GatewayStatus read_status_output(const std::string& out, const std::string& err, int exit_code,
                                 const std::string& address) {
  GatewayStatus status;
  if (exit_code == 0) {
    if (auto members = string_members(json_document(out))) status.fields = std::move(*members);
    if (status_field(status, "model_name")) return status;
    status.fields.clear();
  }
  const std::string last = last_error_line(err);
  static const std::string kCurlFailure = "curl_easy_perform() failed: ";
  if (last.rfind(kCurlFailure, 0) == 0) {
    status.error = "The gateway at " + address + " could not be reached (" + last.substr(kCurlFailure.size()) + ").";
  } else if (!last.empty()) {
    status.error = last;
  } else {
    status.error = "The gateway at " + address + " did not report its status.";
  }
  return status;
}

std::string last_error_line(const std::string& err) {
  std::string last;
  for (const std::string& line : lines_of(err)) {
    if (!line.empty()) last = line;
  }
  return last;
}

std::string json_document(const std::string& out) {
  std::size_t begin = out.rfind('{', 0) == 0 ? 0 : out.find("\n{");
  if (begin == std::string::npos) return {};
  if (out[begin] == '\n') ++begin;
  std::size_t end = out.find_last_not_of(" \t\r\n");
  // The last line that ends with '}'.
  while (end != std::string::npos && end > begin && out[end] != '}') {
    const std::size_t line = out.rfind('\n', end);
    if (line == std::string::npos || line < begin) return {};
    end = out.find_last_not_of(" \t\r\n", line);
  }
  return end == std::string::npos || end < begin ? std::string() : out.substr(begin, end - begin + 1);
}

bool is_json_object(const std::string& text) {
  json::JsonReader reader;
  json::open_bytes(reader, text.data(), text.size());
  json::Token token = json::next_token(reader);
  const bool object = token == json::Token::ObjectStart;
  while (token != json::Token::Error && token != json::Token::Done) token = json::next_token(reader);
  json::close(reader);
  return object && token == json::Token::Done;
}

GatewayStatus status_timed_out(const std::string& address) {
  return {{}, "No answer from " + address + " within " + std::to_string(kStatusQueryLimitMs / 1000) + " s."};
}

std::optional<std::string> status_field(const GatewayStatus& status, const std::string& name) {
  for (const auto& [field, value] : status.fields) {
    if (field == name) return value;
  }
  return std::nullopt;
}

std::string status_json(const GatewayStatus& status) {
  if (!status.error.empty()) return "{\"error\":" + json_quoted(status.error) + "}";
  std::string out = "{";
  for (const auto& [field, value] : status.fields) {
    if (out.size() > 1) out += ',';
    out += json_quoted(field) + ":" + json_quoted(value);
  }
  return out + "}";
}
