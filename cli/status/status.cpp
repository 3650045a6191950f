#include <cstdio>
#include <cstring>

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

Field field_named(const char* name) {
  for (const auto& member : kMembers)
    if (std::strcmp(member.name, name) == 0) return member.field;
  return nullptr;
}

void clear_report(StatusReport* report) {
  for (const auto& member : kMembers) (report->*member.field).reset();
}

}  // namespace

int read_status_report(const uint8_t* bytes, std::size_t count, StatusReport* report) {
  json::JsonReader reader;
  json::open_bytes(reader, bytes, count);
  std::optional<std::string> pending;
  bool inside_object = false;
  int result = 1;
  while (true) {
    json::Token token = json::next_token(reader);
    if (token == json::Token::Done) break;
    if (token == json::Token::Error) {
      std::fflush(stdout);  // after the fetch's lines, also when both streams share a file
      std::fprintf(stderr, "status\tthe gateway's status reply could not be read: %s\n", json::error_message(reader));
      result = 1;
      break;
    }
    if (token == json::Token::ObjectStart || token == json::Token::ObjectEnd) {
      pending.reset();
      inside_object = token == json::Token::ObjectStart;
    } else if (token == json::Token::String && inside_object) {
      // Only strings pair up: a value of another kind leaves its name pending.
      const char* text = json::token_text(reader);
      if (!pending) {
        pending = text;
        continue;
      }
      if (Field field = field_named(pending->c_str())) {
        report->*field = std::string(text);
        if (field == &StatusReport::model_name) result = 0;
      }
      pending.reset();
    }
  }
  json::close(reader);
  return result;
}

int query_status(Gateway& gateway, const char* address, StatusReport* report) {
  if (!report) return 1;
  clear_report(report);
  if (!address) return 1;
  auto url = format_text("%s/api/v100/status.ssi", address);
  if (!url) return 1;
  ReceiveBuffer reply;
  if (gateway.fetch_to_buffer("status", url->c_str(), &reply) != Transfer::Done) return 1;
  return read_status_report(reply.data.data(), reply.data.size(), report);
}

int release_status(StatusReport* report) {
  if (!report) return 1;
  clear_report(report);
  return 0;
}
