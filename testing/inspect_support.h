// Helpers for the inspect tests and benchmark: records made by the CSV
// imports (so they hold what a gateway set up from CSV holds), configuration
// archives with a status.txt, and whole backup sets.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "import/import.h"
#include "inspect/inspect.h"
#include "records/records.h"
#include "tar/tar.h"

namespace inspect_test {

using Bytes = std::vector<uint8_t>;
using ImportFunction = ImportOutcome (*)(const FetchedConfiguration*, const char*, SetupWorkArea*);

inline std::string temp_file(const std::string& content) {
  char name[] = "/tmp/inspect_test_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) std::abort();
  close(fd);
  return name;
}

// Runs one import of `csv` on `area` for `firmware`.
inline void run_import(ImportFunction import, const char* firmware, const std::string& csv, SetupWorkArea* area) {
  FetchedConfiguration fetched;
  fetched.firmware_version = firmware;
  const std::string path = temp_file(csv);
  import(&fetched, path.c_str(), area);
  unlink(path.c_str());
}

// The channel record `firmware` keeps, after importing `gear_csv` and
// `group_csv` onto `start` (a zero record when empty).
inline Bytes channel_record(const char* firmware, const std::string& gear_csv, const std::string& group_csv,
                            Bytes start = {}) {
  const ChannelLayout& layout = *channel_layout(channel_record_version(firmware));
  auto area = std::make_unique<SetupWorkArea>();
  if (start.empty()) {
    start.assign(layout.length, 0);
    put_le32(start.data(), RecordHeader::LENGTH, layout.length);
    put_le32(start.data(), RecordHeader::VERSION, layout.version);
  }
  std::copy(start.begin(), start.end(), area->channel_image);
  if (!gear_csv.empty()) run_import(import_channel_csv, firmware, gear_csv, area.get());
  if (!group_csv.empty()) run_import(import_group_csv, firmware, group_csv, area.get());
  seal_record(area->channel_image, layout.length);
  return Bytes(area->channel_image, area->channel_image + layout.length);
}

inline Bytes input_record(const std::string& csv) {
  auto area = std::make_unique<SetupWorkArea>();
  run_import(import_input_csv, "1.5.0", csv, area.get());
  put_le32(area->input_image, RecordHeader::LENGTH, INPUT_V3.length);
  put_le32(area->input_image, RecordHeader::VERSION, INPUT_V3.version);
  seal_record(area->input_image, INPUT_V3.length);
  return Bytes(area->input_image, area->input_image + INPUT_V3.length);
}

// A configuration archive as the gateway sends it: the file and status.txt.
inline Bytes configuration_tar(const ConfigurationEntry& entry, const Bytes& file, const std::string& firmware) {
  const std::string status = "{\"model_name\":\"LUMARO-4\",\"firmware_version\":\"" + firmware +
                             "\",\"serial_number\":\"LM4-0042\",\"mac\":\"00:1A:2B:3C:4D:5E\"}";
  TarArchive writer;
  tar_memory_writer(&writer);
  tar_write_file_header(&writer, entry.gateway_path, static_cast<uint32_t>(file.size()));
  tar_write_data(&writer, file.data(), static_cast<uint32_t>(file.size()));
  tar_write_file_header(&writer, "status.txt", static_cast<uint32_t>(status.size()));
  tar_write_data(&writer, status.data(), static_cast<uint32_t>(status.size()));
  tar_finalize(&writer);
  return Bytes(writer.memory.begin(), writer.memory.begin() + writer.position);
}

// 64 gear with names of the longest kind, every group, two per address.
inline std::string full_channel_csv(unsigned channel) {
  std::string csv = "#dali-channel-csv-version: 1\n";
  for (unsigned i = 0; i < 64; ++i) {
    char row[256];
    std::snprintf(row, sizeof row,
                  "%u,%u,%u,Channel %u luminaire number %02u xyzw,\"[0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15]\","
                  "254,null,254,%u,7,4,\"[254,200,null,0]\"\n",
                  channel, i, i, channel, i, i);
    csv += row;
  }
  return csv;
}

inline std::string full_group_csv(unsigned channel) {
  std::string csv = "#dali-channel-groups-csv-version: 1\n";
  for (unsigned g = 0; g < 16; ++g)
    csv += "0," + std::to_string(g) + ",Channel " + std::to_string(channel) + " group " + std::to_string(g) +
           " with a long name\n";
  return csv;
}

inline std::string full_input_csv(unsigned channel) {
  std::string csv = "#dali-channel-inputs-csv-version: 1\n";
  for (unsigned d = 0; d < 32; ++d)
    csv += std::to_string(channel) + "," + std::to_string(d) + "," + std::to_string(d) + ",Keypad " +
           std::to_string(d) + " of ch " + std::to_string(channel) +
           ",0,6,\"[1,1,1,3,4,9]\",\"[0,1,2,3,4,5]\",\"[7]\",\"[1,2,3]\",,,,,,\"[0,0,0,30]\",,,\"[0,0,0,0,5]\",\n";
  return csv;
}

// All 22 configurations of a gateway on `firmware`: four full channels and
// their input devices, and filler bytes for the plain configurations.
inline std::vector<std::pair<std::string, Bytes>> full_backup(const char* firmware) {
  std::vector<std::pair<std::string, Bytes>> entries;
  for (const char* name : default_fetch_order) {
    const ConfigurationEntry& entry = *find_configuration_by_name(name);
    Bytes file;
    if (entry.code >= 1 && entry.code <= 4) {
      file = channel_record(firmware, full_channel_csv(entry.code), full_group_csv(entry.code));
    } else if (entry.code >= 5 && entry.code <= 8) {
      file = input_record(full_input_csv(entry.code - 4));
    } else {
      file.assign(2048 + 16 * entry.code, static_cast<uint8_t>(entry.code));
    }
    entries.emplace_back(entry.member_name, configuration_tar(entry, file, firmware));
  }
  return entries;
}

inline BackupSet set_of(const std::vector<std::pair<std::string, Bytes>>& entries, const std::string& source) {
  BackupSet set;
  set.source = source;
  set.kind = "archive";
  for (const auto& [name, tar] : entries) set.configurations.push_back(read_configuration_archive(name, tar));
  fill_gateway(set);
  return set;
}

}  // namespace inspect_test
