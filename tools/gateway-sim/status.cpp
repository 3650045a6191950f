#include <cstdlib>
#include <ctime>

#include "gateway.h"

namespace sim {

namespace {

void append_json_string(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

std::string current_time() {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

// LUMARO-N has N DALI channels.
std::string channel_state(const Identity& identity, int channel) {
  int channels = identity.model.size() == 8 ? identity.model[7] - '0' : 4;
  return channel <= channels ? "active" : "absent";
}

}  // namespace

std::string status_document(const Gateway& gateway) {
  const Identity& id = gateway.identity;
  auto uptime = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - gateway.started);
  const std::pair<const char*, std::string> members[] = {
      {"model_name", id.model},
      {"firmware_version", id.firmware_version},
      {"build_date", id.build_date},
      {"license", "standard"},
      {"license_number", "LIC-" + id.serial_number},
      {"hostname", id.hostname},
      {"serial_number", id.serial_number},
      {"mac", id.mac},
      {"rtc_temperature", "31.5"},
      {"ram_memory", "65536"},
      {"flash_memory", "262144"},
      {"boot_count", id.boot_count},
      {"time", current_time()},
      {"uptime", std::to_string(uptime.count())},
      {"dali_channel_1", channel_state(id, 1)},
      {"dali_channel_2", channel_state(id, 2)},
      {"dali_channel_3", channel_state(id, 3)},
      {"dali_channel_4", channel_state(id, 4)},
      {"ip", id.ip},
      {"bacnet_ip", "disabled"},
      {"session_id", "0"},
      {"username", "admin"},
  };
  std::string out = "{";
  for (const auto& [name, value] : members) {
    if (out.size() > 1) out += ',';
    append_json_string(out, name);
    out += ':';
    append_json_string(out, value);
  }
  out += "}";
  return out;
}

Reply handle_status(Gateway& gateway) {
  UpgradeRestart& upgrade = gateway.upgrade;
  if (upgrade.until) {
    if (std::chrono::steady_clock::now() < *upgrade.until) return html_error(503);
    // Back from the restart: the version it came back with, one boot more.
    upgrade.until.reset();
    gateway.identity.firmware_version = upgrade.next_version;
    gateway.identity.boot_count = std::to_string(std::atol(gateway.identity.boot_count.c_str()) + 1);
  }
  return Reply{200, "application/json", status_document(gateway)};
}

Reply html_error(int status) {
  const char* reason = status == 404 ? "Not Found" : status == 400 ? "Bad Request" : status >= 500 ? "Internal Server Error" : "Error";
  std::string title = std::to_string(status) + " " + reason;
  return Reply{status, "text/html",
               "<html><head><title>" + title + "</title></head>\n<body><h1>" + title +
                   "</h1><p>The requested operation could not be completed.</p></body></html>\n"};
}

}  // namespace sim
