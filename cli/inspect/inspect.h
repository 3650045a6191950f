// Reading backups: a backup archive, a single configuration archive or a
// backup folder read into one set of configurations; its decoded view as
// text or JSON; the differences between two sets; and CSV files made from a
// channel's records in the imports' own formats. Nothing here prints: every
// function returns data and the reasons for what it could not do.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct ConfigurationEntry;

// The gateway as a configuration archive's status.txt describes it.
struct GatewayInfo {
  std::optional<std::string> model_name, firmware_version, serial_number, mac;
  std::string problem;  // why status.txt could not be read; empty when it was, or when there is none
};

// One configuration archive of a backup.
struct BackupConfiguration {
  std::string name;                           // "dali1"; the entry or file name for an unknown archive
  const ConfigurationEntry* entry = nullptr;  // nullptr when no configuration of the table was recognised
  uint64_t archive_size = 0;                  // bytes of the configuration archive (a tar)
  uint64_t size = 0;                          // bytes of the configuration file inside it
  // The configuration file, when it is at most CONFIGURATION_KEPT_LIMIT bytes
  // (every real one is); a larger one is only counted, and read again where
  // it is compared.
  std::vector<uint8_t> data;
  bool kept = true;
  std::string problem;  // why the file could not be taken out; empty when it was
  GatewayInfo status;
  // Where it was read: the zip entry's index, or the configuration archive's path.
  int64_t zip_index = -1;
  std::string file;
};

// The most a configuration file may hold to be kept whole while a backup is read.
constexpr uint64_t CONFIGURATION_KEPT_LIMIT = uint64_t{1} << 20;

struct BackupSet {
  std::string source;   // the path it was read from
  std::string kind;     // "archive", "configuration" or "folder"
  std::string problem;  // why nothing could be read; empty when it could
  GatewayInfo gateway;  // from the first configuration archive with a status.txt
  // Each configuration of the table once: a later entry or file for one
  // already read is listed with a problem and not read.
  std::vector<BackupConfiguration> configurations;
};

// A configuration archive already in memory. `name` (a backup entry or file
// name such as "dali1.tar") picks the configuration when it is one of the
// table's; otherwise the archive's members decide.
BackupConfiguration read_configuration_archive(const std::string& name, std::span<const uint8_t> tar);
// A backup folder (the configurations' .tar files, in fetch order), a zip
// backup archive (entries in stored order) or a single configuration archive.
// Archives are read one at a time and in order, their sizes checked before
// anything is taken for them; only regular files are opened, so a FIFO or
// device named like a backup is refused without waiting on it.
BackupSet read_backup(const std::string& path);
// Reads the file of `configuration` (one of `set`) again from where it was
// read, handing its bytes in pieces to `piece`, and keeps them when at most
// `keep` bytes. The result's problem says why it could not be.
BackupConfiguration read_configuration_again(const BackupSet& set, const BackupConfiguration& configuration,
                                             uint64_t keep,
                                             const std::function<void(std::span<const uint8_t>)>& piece = {});
// Takes the gateway from the configurations' status.txt (the first one that
// names anything; failing that, the first one's reason it could not be read).
void fill_gateway(BackupSet& set);

// The channel number (1..4) of a channel or input-device record configuration, 0 for others.
unsigned record_channel(const BackupConfiguration& configuration);
bool is_channel_record(const BackupConfiguration& configuration);
bool is_input_record(const BackupConfiguration& configuration);
// The version in a channel or input-device record's header; none for other configurations.
std::optional<uint32_t> record_version(const BackupConfiguration& configuration);

// ---- Show -------------------------------------------------------------------

// Aligned text: the gateway, the configurations with size and record version,
// per channel the gear in use, the group names and the input devices. Lines
// stay within 80 columns whatever the records hold (names cut only when longer
// than their field allows).
std::string render_show_text(const BackupSet& set);
// The same as one JSON document.
std::string render_show_json(const BackupSet& set);

// ---- Diff -------------------------------------------------------------------

// One field of a slot that differs; values in JSON notation.
struct FieldChange {
  std::string section;  // "gear", "group", "device" or "record"
  int slot = -1;        // -1 for a field of the whole record
  std::string field;
  std::string old_value, new_value;
};

struct ConfigurationDiff {
  std::string name;
  // "added", "removed", "unchanged" or "changed". Records of one version change
  // with any field or carried byte; after a conversion only fields count.
  std::string state;
  std::optional<uint32_t> old_version, new_version;  // record versions of both sides
  bool compared_as_records = false;                  // fields compared after bringing both to one version
  std::vector<FieldChange> changes;
  uint64_t differing_bytes = 0;  // bytes that differ; for records the carried ones (no field, no header)
};

struct BackupDiff {
  std::string old_source, new_source;
  // Section "gateway": what status.txt says about the gateway. Reported, but
  // it does not make two backups different: the same configurations taken
  // before and after a firmware upgrade are the same backup.
  std::vector<FieldChange> gateway;
  std::vector<ConfigurationDiff> configurations;
  bool different = false;  // a configuration was added, removed or changed
};

BackupDiff diff_backups(const BackupSet& old_set, const BackupSet& new_set);
// Ends in "no differences\n" when no configuration differs.
std::string render_diff_text(const BackupDiff& diff);
std::string render_diff_json(const BackupDiff& diff);

// ---- CSV export -------------------------------------------------------------

// A value the import cannot set as the record holds it: the export wrote the
// nearest value the import takes.
struct ExportNote {
  int slot = -1;  // gear, group or device slot; -1 for the whole record
  std::string field;
  std::string stored;   // what the record holds
  std::string written;  // what the CSV says
};

struct CsvExport {
  std::string problem;  // why nothing was written; empty on success
  std::string csv;
  std::vector<ExportNote> notes;
};

// The channel CSV (gear), group CSV (group names) or input-device CSV of a
// record: the version header, a comment row naming the columns, one row per
// slot in use. Importing the file onto the record the export started from
// (for inputs: onto a cleared record, as the setup does) gives the same bytes
// wherever no note was returned.
CsvExport export_channel_csv(std::span<const uint8_t> record);
CsvExport export_group_csv(std::span<const uint8_t> record);
CsvExport export_input_csv(std::span<const uint8_t> record);
// Renders notes one per line for the console ("slot 3 fade rate: 0 written as 1").
std::string render_export_notes(const std::vector<ExportNote>& notes);
