// The gateway's 22 configurations and the exchanges of configuration archives
// with it: fetch and check one archive, push one and start the restore, and
// build one in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "net/net.h"
#include "tar/tar.h"

constexpr uint32_t CONFIGURATION_COUNT = 22;

// One row of the configuration table. The configuration name used in a fetch
// is the member name without ".tar".
struct ConfigurationEntry {
  uint32_t code;              // equal to the row's index
  const char* member_name;    // "dali1.tar": entry name in a backup archive
  const char* gateway_path;   // "/etc/config/dali/dali1.bin": member inside the configuration tar
};

// The 22 configurations by code, then the end row {22, nullptr, nullptr}.
extern const ConfigurationEntry configuration_table[CONFIGURATION_COUNT + 1];

// The 22 configuration names in the default fetch order of a backup.
extern const char* const default_fetch_order[CONFIGURATION_COUNT];

// The row whose member name equals `member_name` exactly, or nullptr.
const ConfigurationEntry* find_configuration_by_member(const char* member_name);
// The row whose configuration name ("dali1") equals `name` exactly, or nullptr.
const ConfigurationEntry* find_configuration_by_name(const char* name);

// One fetched configuration archive and the four values of its status.txt.
struct FetchedConfiguration {
  ReceiveBuffer buffer;  // the tar archive as received
  std::optional<std::string> model_name;
  std::optional<std::string> firmware_version;
  std::optional<std::string> serial_number;
  std::optional<std::string> mac;
};

// GETs "<base_url>/api/v100/backup.ssi?config=<name>" into `record` (reset
// first) and checks it. 0 when an archive arrived and passed the check.
int fetch_configuration(const char* base_url, const char* name, FetchedConfiguration* record);
// Lists the archive, reads status.txt into the four values and prints them.
// 0 passed; 1 no record or no data; 2 no status.txt; 3 fewer than two
// members; a negative tar status when the listing stopped on a damaged header
// and status.txt could not be read.
int check_configuration_archive(FetchedConfiguration* record);
// Clears the four status values (the received bytes stay).
void release_fetched_configuration(FetchedConfiguration* record);
// Uploads the archive by TFTP to `ip`, then asks the gateway to restore it.
// 0 when both succeeded.
int push_configuration_archive(const char* base_url, const char* ip, const uint8_t* bytes,
                               std::size_t length);
// Sets `handle` up as an empty memory writer. 1 without a handle.
int init_configuration_writer(TarArchive* handle);
// Writes the end marker and lists the finished archive (handle->memory,
// handle->position bytes). 0, the tar status that stopped the listing, or 1
// without a handle.
int finish_configuration_archive(TarArchive* handle);
