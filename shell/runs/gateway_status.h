// The gateway card's data: the status report that `varnu-cli --action
// get_status --json` printed, read into fields or an error, and the JSON text
// that native_gatewayStatus hands to the page.
#pragma once

#include <QJsonObject>

#include <optional>
#include <string>
#include <utility>
#include <vector>

// How long a status query may take in all before the shell gives up on it; the
// tool's own connect and stall limits end a silent gateway well before this.
inline constexpr int kStatusQueryLimitMs = 50000;

struct GatewayStatus {
  std::vector<std::pair<std::string, std::string>> fields;  // the report's string members, in printed order
  std::string error;                                        // empty on success
};

// The tool's arguments for a status query of `address`.
std::vector<std::string> status_arguments(const std::string& address);

// Reads one finished query. Success needs exit status 0 and one JSON object of
// string members on standard output that names the model. The error is the
// tool's last line on standard error (a curl failure worded for people), else
// a text naming the address.
GatewayStatus read_status_output(const std::string& out, const std::string& err, int exit_code,
                                 const std::string& address);

// The query that did not end within kStatusQueryLimitMs.
GatewayStatus status_timed_out(const std::string& address);

// The tool's last non-empty line on standard error; empty when it wrote none.
std::string last_error_line(const std::string& err);

// The JSON object the tool printed after the echo of its command line: the
// first line starting with '{' from which the text up to the last line ending
// with '}' is one object. Echoed arguments may hold lines that look like an
// object; they come before the document and never reach to its end.
std::optional<QJsonObject> tool_document(const std::string& out);

std::optional<std::string> status_field(const GatewayStatus& status, const std::string& name);

// {"model_name": "...", ...} or {"error": "..."}.
QJsonObject status_json(const GatewayStatus& status);
