#include "runs/gateway_status.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <sstream>

namespace {

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
    // Only a flat object of strings is a report.
    const std::optional<QJsonObject> report = tool_document(out);
    bool flat = report.has_value();
    for (auto member = flat ? report->begin() : QJsonObject::iterator(); flat && member != report->end(); ++member) {
      flat = member.value().isString();
      status.fields.emplace_back(member.key().toStdString(), member.value().toString().toStdString());
    }
    if (flat && status_field(status, "model_name")) return status;
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

std::optional<QJsonObject> tool_document(const std::string& out) {
  std::size_t end = out.find_last_not_of(" \t\r\n");
  while (end != std::string::npos && out[end] != '}') {
    const std::size_t line = out.rfind('\n', end);
    end = line == std::string::npos ? line : out.find_last_not_of(" \t\r\n", line);
  }
  if (end == std::string::npos) return std::nullopt;
  for (std::size_t begin = 0; begin < end; begin = out.find('\n', begin)) {
    if (out[begin] == '\n') ++begin;
    if (out[begin] != '{') continue;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(out.data() + begin, static_cast<qsizetype>(end - begin + 1)), &error);
    if (error.error == QJsonParseError::NoError && document.isObject()) return document.object();
  }
  return std::nullopt;
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

QJsonObject status_json(const GatewayStatus& status) {
  if (!status.error.empty()) return {{"error", QString::fromStdString(status.error)}};
  QJsonObject report;
  for (const auto& [field, value] : status.fields) report.insert(QString::fromStdString(field), QString::fromStdString(value));
  return report;
}
