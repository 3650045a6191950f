#include <cstdio>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/listing.h"
#include "json/json.h"
#include "util/text.h"

namespace {

const char* const TAG = "backup";

// Takes the four status values out of status.txt: a string inside an object
// is a key, or the value of the key that is pending.
void read_status_values(const char* text, FetchedConfiguration* record) {
  struct Key {
    const char* name;
    std::optional<std::string>* value;
  };
  const Key keys[] = {{"model_name", &record->model_name},
                      {"firmware_version", &record->firmware_version},
                      {"serial_number", &record->serial_number},
                      {"mac", &record->mac}};
  json::JsonReader reader;
  json::open_text(reader, text);
  bool inside = false;
  const Key* pending = nullptr;
  for (;;) {
    const json::Token token = json::next_token(reader);
    if (token == json::Token::Error || token == json::Token::Done) break;
    if (token == json::Token::ObjectStart) inside = true;
    if (token == json::Token::ObjectEnd) inside = false;
    if (token != json::Token::String || !inside) continue;
    std::size_t length = 0;
    const char* string = json::token_text(reader, &length);
    const std::string value(string, length > 0 ? length - 1 : 0);
    if (pending) {
      *pending->value = value;
      pending = nullptr;
      continue;
    }
    for (const Key& key : keys)
      if (value == key.name) pending = &key;
  }
  json::close(reader);
}

void print_value(const Reporter& reporter, const char* label, const std::optional<std::string>& value) {
  report(reporter, "%s\t%s: %s\r\n", TAG, label, value ? escape_bytes(*value).c_str() : "(null)");
}

}  // namespace

Transfer fetch_configuration(Gateway& gateway, const Reporter& reporter, const char* base_url, const char* name,
                             FetchedConfiguration* record) {
  if (!base_url || !name || !record) return Transfer::Failed;
  record->buffer.data.clear();
  record->buffer.limit = CONFIGURATION_REPLY_LIMIT;
  release_fetched_configuration(record);
  const std::string url = std::string(base_url) + "/api/v100/backup.ssi?config=" + name;
  const Transfer fetched = gateway.fetch_to_buffer(TAG, url.c_str(), &record->buffer);
  if (fetched != Transfer::Done) return fetched;
  return check_configuration_archive(reporter, record) == ArchiveCheck::Passed ? Transfer::Done : Transfer::Failed;
}

ArchiveCheck check_configuration_archive(const Reporter& reporter, FetchedConfiguration* record) {
  if (!record || record->buffer.data.empty()) return ArchiveCheck::Empty;
  const std::vector<uint8_t>& body = record->buffer.data;
  report(reporter, "%s\tbackup file contains: \r\n", TAG);
  TarArchive tar;
  tar_memory_reader(&tar, body.data(), body.size());
  const ArchiveListing listing = list_configuration_archive(reporter, &tar);
  ArchiveCheck result = listing.status != TarStatus::NullRecord ? ArchiveCheck::Damaged
                        : listing.members > 0                  ? ArchiveCheck::Passed
                                                               : ArchiveCheck::Empty;

  TarHeader header;
  if (tar_find(&tar, "status.txt", &header) != TarStatus::Success) {
    report(reporter, "%s\terror status.txt file not found.\r\n", TAG);
    result = ArchiveCheck::NoStatus;
  } else if (header.size == 0) {
    report(reporter, "%s\terror status.txt file size error\r\n", TAG);
  } else {
    // A size beyond the body cannot be read; it is not worth allocating either.
    const bool inside = tar_member_within(&tar, header);
    std::vector<char> text(inside ? header.size + std::size_t{1} : 0, '\0');
    if (!inside || tar_read_data(&tar, text.data(), header.size) != TarStatus::Success) {
      report(reporter, "%s\terror reading status.txt\r\n", TAG);
    } else {
      read_status_values(text.data(), record);
      print_value(reporter, "model name", record->model_name);
      print_value(reporter, "firmware version", record->firmware_version);
      print_value(reporter, "serial number", record->serial_number);
      print_value(reporter, "mac", record->mac);
      // A member cut short stays a failure even when status.txt could be read.
      result = listing.cut ? ArchiveCheck::Damaged : ArchiveCheck::Passed;
    }
  }
  if (listing.members < 2) result = ArchiveCheck::TooFewMembers;
  return result;
}

void release_fetched_configuration(FetchedConfiguration* record) {
  if (!record) return;
  record->model_name.reset();
  record->firmware_version.reset();
  record->serial_number.reset();
  record->mac.reset();
}
