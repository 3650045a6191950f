// The gateway's 22 configurations and the exchanges of configuration archives
// with it: fetch and check one archive, push one and start the restore, build
// one in memory, and read or write the channel records inside one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "net/net.h"
#include "records/records.h"
#include "tar/tar.h"
#include "util/buffers.h"

constexpr uint32_t CONFIGURATION_COUNT = 22;
// The most a backup archive's entry may inflate to. The largest configuration
// archive is some 12 KiB; anything near this is not a backup but an attack.
constexpr uint64_t BACKUP_ENTRY_LIMIT = uint64_t{64} << 20;
// The most a configuration fetch may receive: a configuration file within
// the entry limit plus the archive around it (headers, status.txt, which is a
// status reply, and the end blocks of a record of up to 10 KiB).
constexpr std::size_t CONFIGURATION_REPLY_LIMIT = BACKUP_ENTRY_LIMIT + REPLY_LIMIT + (16u << 10);

// One row of the configuration table. The configuration name used in a fetch
// is the member name without ".tar".
struct ConfigurationEntry {
  uint32_t code;              // equal to the row's index
  const char* member_name;    // "dali1.tar": entry name in a backup archive
  const char* gateway_path;   // "/etc/config/dali/dali1.bin": member inside the configuration tar
};

// The 22 configurations by code, then the end row {22, nullptr, nullptr}.
inline constexpr ConfigurationEntry configuration_table[CONFIGURATION_COUNT + 1] = {
    {0, "systemconfig.tar", "/etc/config/system/systemconfig.bin"},
    {1, "dali1.tar", "/etc/config/dali/dali1.bin"},
    {2, "dali2.tar", "/etc/config/dali/dali2.bin"},
    {3, "dali3.tar", "/etc/config/dali/dali3.bin"},
    {4, "dali4.tar", "/etc/config/dali/dali4.bin"},
    {5, "cd1.tar", "/etc/config/dali/cd1.bin"},
    {6, "cd2.tar", "/etc/config/dali/cd2.bin"},
    {7, "cd3.tar", "/etc/config/dali/cd3.bin"},
    {8, "cd4.tar", "/etc/config/dali/cd4.bin"},
    {9, "schedules.tar", "/etc/config/schedule/schedule.bin"},
    {10, "schedulesastro.tar", "/etc/config/schedule/scheduleastro.bin"},
    {11, "rlc.tar", "/etc/config/rlc/rlc.bin"},
    {12, "commanders.tar", "/etc/config/cmdr/cmdr.bin"},
    {13, "system_ui32.tar", "/etc/config/nvp/system_ui32.bin"},
    {14, "dalv.tar", "/etc/config/nvp/dalv.bin"},
    {15, "daeu.tar", "/etc/config/nvp/daeu.bin"},
    {16, "daeutr.tar", "/etc/config/nvp/daeutr.bin"},
    {17, "daeutc.tar", "/etc/config/nvp/daeutc.bin"},
    {18, "dacdlcm.tar", "/etc/config/nvp/dacdlcm.bin"},
    {19, "dacdlcr.tar", "/etc/config/nvp/dacdlcr.bin"},
    {20, "rlcnamenvp.tar", "/etc/config/nvp/rlcnamenvp.bin"},
    {21, "cmdrnamenvp.tar", "/etc/config/nvp/cmdrnamenvp.bin"},
    {22, nullptr, nullptr},
};

// The 22 configuration names in the default fetch order of a backup:
// the small global settings first, then the channels, then the name tables.
inline constexpr const char* default_fetch_order[CONFIGURATION_COUNT] = {
    "systemconfig", "schedules", "schedulesastro", "rlc",    "commanders", "dali1",   "dali2",      "dali3",
    "dali4",        "cd1",       "cd2",            "cd3",    "cd4",        "system_ui32", "dalv",   "daeu",
    "daeutr",       "daeutc",    "dacdlcm",        "dacdlcr", "rlcnamenvp", "cmdrnamenvp",
};

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
// first) and checks it.
Transfer fetch_configuration(Gateway& gateway, const Reporter& reporter, const char* base_url, const char* name,
                             FetchedConfiguration* record);
enum class ArchiveCheck {
  Passed,
  Empty,          // no record, or no bytes in it
  NoStatus,       // no status.txt
  TooFewMembers,  // fewer than two members
  Damaged,        // a damaged header or a member cut short (the listing printed its code)
};

// Lists the archive, reads status.txt into the four values and prints them.
ArchiveCheck check_configuration_archive(const Reporter& reporter, FetchedConfiguration* record);
// Clears the four status values (the received bytes stay).
void release_fetched_configuration(FetchedConfiguration* record);
// Uploads the archive by TFTP to `ip`, then asks the gateway to restore it.
Transfer push_configuration_archive(Gateway& gateway, const Reporter& reporter, const char* base_url, const char* ip,
                                    const uint8_t* bytes, std::size_t length);
// Sets `handle` up as an empty memory writer. Failure without a handle.
TarStatus init_configuration_writer(TarArchive* handle);
// Writes the end marker and lists the finished archive (tar_written_bytes). Success, the status that stopped the
// listing, or Failure without a handle.
TarStatus finish_configuration_archive(const Reporter& reporter, TarArchive* handle);

// ---- Channel records inside a configuration archive -------------------------

// Reads "/etc/config/dali/dali<channel>.bin" from the fetched archive into the
// 11168-byte image (cleared first; a longer member is cut).
enum class RecordRead {
  Read,
  MissingArgument,  // nothing was read
  NotFound,         // no such member, or an empty one (reported)
  Unreadable,       // the member runs past the archive's end or cannot be read (reported)
};
RecordRead read_channel_record(const Reporter& reporter, const FetchedConfiguration* fetched, unsigned channel,
                        uint8_t* image);

enum class RecordWrite {
  Written,          // the member is in the archive
  MissingArgument,  // nothing was written
  WriteFailed,      // the archive refused the header or the data (reported)
  VersionRefused,   // the firmware cannot take the record (reported); the tool must stop with status 1
};

// Stamps version and CRC into the image for the fetched firmware's layout and
// writes it as member "/etc/config/dali/dali<channel>.bin".
RecordWrite write_channel_record(const Reporter& reporter, TarArchive* archive, const FetchedConfiguration* fetched,
                                 unsigned channel, uint8_t* image);
// Stamps version 3 and the CRC into the 9564-byte image and writes it as member
// "/etc/config/dali/cd<channel>.bin". A firmware that does not call for channel
// record version 3 cannot take it: VersionRefused.
RecordWrite write_input_record(const Reporter& reporter, TarArchive* archive, const FetchedConfiguration* fetched,
                               unsigned channel, uint8_t* image);
