// The gateway's status report: its query and its reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/net.h"

// The 22 members of the status report, as the gateway sent them (all strings).
struct StatusReport {
  std::optional<std::string> model_name, firmware_version, build_date, license, license_number, hostname,
      serial_number, mac, rtc_temperature, ram_memory, flash_memory, boot_count, time, uptime, dali_channel_1,
      dali_channel_2, dali_channel_3, dali_channel_4, ip, bacnet_ip, session_id, username;
};

// The members present in `report`, named as in the reply, in the report's order.
std::vector<std::pair<const char*, std::string>> status_members(const StatusReport& report);

// How a query or a reading of the report ended.
struct StatusOutcome {
  bool read = false;   // the reply was read and held model_name
  std::string reason;  // when not read: the line to report, "" when the
                       // transfer already reported it or an argument was absent
};

// Fetches and reads the report.
StatusOutcome query_status(Gateway& gateway, const char* address, StatusReport* report);
// Reads a status reply of `count` bytes into `report` (fields already present
// are replaced). Bytes of the reply in the reason are escaped.
StatusOutcome read_status_report(const uint8_t* bytes, std::size_t count, StatusReport* report);
// Empties the report (when present).
void release_status(StatusReport* report);
