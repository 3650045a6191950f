#include <string_view>

#include "json/json.h"
#include "status/status.h"
#include "util/text.h"

namespace {

using Field = std::optional<std::string> StatusReport::*;

struct Member {
  const char* name;
  Field field;
};

const Member kMembers[] = {
    {"model_name", &StatusReport::model_name},
    {"firmware_version", &StatusReport::firmware_version},
    {"build_date", &StatusReport::build_date},
    {"license", &StatusReport::license},
    {"license_number", &StatusReport::license_number},
    {"hostname", &StatusReport::hostname},
    {"serial_number", &StatusReport::serial_number},
    {"mac", &StatusReport::mac},
    {"rtc_temperature", &StatusReport::rtc_temperature},
    {"ram_memory", &StatusReport::ram_memory},
    {"flash_memory", &StatusReport::flash_memory},
    {"boot_count", &StatusReport::boot_count},
    {"time", &StatusReport::time},
    {"uptime", &StatusReport::uptime},
    {"dali_channel_1", &StatusReport::dali_channel_1},
    {"dali_channel_2", &StatusReport::dali_channel_2},
    {"dali_channel_3", &StatusReport::dali_channel_3},
    {"dali_channel_4", &StatusReport::dali_channel_4},
    {"ip", &StatusReport::ip},
    {"bacnet_ip", &StatusReport::bacnet_ip},
    {"session_id", &StatusReport::session_id},
    {"username", &StatusReport::username},
};

// Names are compared with their full length: "model_name\u0000x" is another name.
Field field_named(std::string_view name) {
  for (const auto& member : kMembers)
    if (name == member.name) return member.field;
  return nullptr;
}

void clear_report(StatusReport* report) {
  for (const auto& member : kMembers) (report->*member.field).reset();
}

}  // namespace

std::vector<std::pair<const char*, std::string>> status_members(const StatusReport& report) {
  std::vector<std::pair<const char*, std::string>> present;
  for (const auto& member : kMembers)
    if (const auto& value = report.*member.field) present.emplace_back(member.name, *value);
  return present;
}

StatusOutcome read_status_report(const uint8_t* bytes, std::size_t count, StatusReport* report) {
  json::JsonReader reader;
  json::open_bytes(reader, bytes, count);
  std::optional<std::string> pending;
  bool inside_object = false;
  StatusOutcome outcome;
  while (true) {
    json::Token token = json::next_token(reader);
    if (token == json::Token::Done) break;
    if (token == json::Token::Error) {
      outcome.read = false;
      outcome.reason = "status\tthe gateway's status reply could not be read: " +
                       escape_bytes(json::error_message(reader)) + "\n";
      break;
    }
    if (token == json::Token::ObjectStart || token == json::Token::ObjectEnd) {
      pending.reset();
      inside_object = token == json::Token::ObjectStart;
    } else if (token == json::Token::String && inside_object) {
      // Only strings pair up: a value of another kind leaves its name pending.
      std::size_t length = 0;
      const char* text = json::token_text(reader, &length);
      std::string value(text, length ? length - 1 : 0);
      if (!pending) {
        pending = std::move(value);
        continue;
      }
      if (Field field = field_named(*pending)) {
        report->*field = std::move(value);
        if (field == &StatusReport::model_name) outcome.read = true;
      }
      pending.reset();
    }
  }
  json::close(reader);
  if (outcome.reason.empty() && !outcome.read) {
    outcome.reason = count == 0 ? "status\tthe gateway's status reply is empty\n"
                                : "status\tthe gateway's status reply holds no model_name\n";
  }
  return outcome;
}

StatusOutcome query_status(Gateway& gateway, const char* address, StatusReport* report) {
  if (!report) return {};
  clear_report(report);
  if (!address) return {};
  auto url = format_text("%s/api/v100/status.ssi", address);
  if (!url) return {};
  ReceiveBuffer reply;
  if (gateway.fetch_to_buffer("status", url->c_str(), &reply) != Transfer::Done) return {};
  return read_status_report(reply.data.data(), reply.data.size(), report);
}

void release_status(StatusReport* report) {
  if (report) clear_report(report);
}
