#include "gateway_status.h"

#include <sstream>

#include "tool_command.h"

namespace {

bool is_field_name(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
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
  return {"--action", "get_status", "--ip", address};
}

GatewayStatus read_status_output(const std::string& out, const std::string& err, int exit_code,
                                 const std::string& address) {
  GatewayStatus status;
  for (const std::string& line : lines_of(out)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || !is_field_name(line.substr(0, equals))) continue;
    status.fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
  }
  if (exit_code == 0 && status_field(status, "model_name")) return status;
  status.fields.clear();
  std::string last;
  for (const std::string& line : lines_of(err)) {
    if (!line.empty()) last = line;
  }
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
