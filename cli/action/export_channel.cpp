// The export_channel action: CSV files in the imports' own formats, made from
// a gateway's current records or from a backup, so that the installer can
// start a CSV from what a channel holds.
#include <span>
#include <string>

#include "action/action.h"
#include "backup/backup.h"
#include "inspect/inspect.h"
#include "platform/platform.h"
#include "util/events.h"

namespace {

constexpr const char* TAG = "export_channel";

// What the run writes, chosen once from the list present.
struct ExportMode {
  const std::vector<std::string>* paths;
  CsvExport (*make)(std::span<const uint8_t> record);
  const char* configuration;  // the record's configuration name without the channel number
};

// The folder a file lands in ("." for a bare file name).
std::string folder_of(const std::string& path) {
  const std::size_t cut = path.find_last_of(std::string("/") + platform::path_separator());
  if (cut == std::string::npos) return ".";
  return path.substr(0, cut == 0 ? 1 : cut);
}

bool can_write(const std::string& path) {
  return !path.empty() && !platform::is_folder(path.c_str()) && platform::is_writable_folder(folder_of(path).c_str());
}

// The configuration `name` ("dali2") from the backup when one was read,
// otherwise fetched from the gateway as setup_channel fetches it.
BackupConfiguration configuration_named(Gateway& gateway, const Reporter& reporter, const char* ip, const BackupSet* backup,
                                        const std::string& name) {
  BackupConfiguration missing;
  missing.name = name;
  if (backup) {
    for (const BackupConfiguration& configuration : backup->configurations)
      if (configuration.name == name) return configuration;
    missing.problem = "is not in the backup";
    return missing;
  }
  const std::string base_url = std::string("http://") + ip;
  FetchedConfiguration fetched;
  if (fetch_configuration(gateway, reporter, base_url.c_str(), name.c_str(), &fetched) != Transfer::Done) {
    missing.problem = "could not be fetched";
    return missing;
  }
  return read_configuration_archive(name + ".tar", fetched.buffer.data);
}

// Writes one channel's file; false, with `why` set, when it could not.
bool export_one(Gateway& gateway, const Reporter& reporter, const char* ip, const BackupSet* backup,
                const ExportMode& mode, int32_t channel, const std::string& path, std::string* why) {
  if (channel < 1 || channel > 4) {
    report_error(reporter, "%s\tchannel %d not exported: channels are 1 to 4.\n", TAG, channel);
    *why = "channels are 1 to 4";
    return false;
  }
  const std::string name = mode.configuration + std::to_string(channel);
  const BackupConfiguration configuration = configuration_named(gateway, reporter, ip, backup, name);
  const CsvExport exported = configuration.problem.empty() ? mode.make(configuration.data)
                                                           : CsvExport{name + " " + configuration.problem, {}, {}};
  if (!exported.problem.empty()) {
    report_error(reporter, "%s\tchannel %d not exported: %s.\n", TAG, channel, exported.problem.c_str());
    *why = exported.problem;
    return false;
  }
  if (!exported.notes.empty()) {
    report_error(reporter, "%s\tchannel %d: values the import cannot express, the nearest written:\n%s", TAG, channel,
                 render_export_notes(exported.notes).c_str());
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(exported.csv.data());
  if (!platform::write_file_replacing(path.c_str(), bytes, exported.csv.size())) {
    report_error(reporter, "%s\tchannel %d not exported: '%s' could not be written.\n", TAG, channel, path.c_str());
    *why = "the file could not be written";
    return false;
  }
  report(reporter, "CH=%d\nFILE=%s\nOK\n", channel, path.c_str());
  event_file(reporter, "csv", path);
  return true;
}

}  // namespace

int export_channel(Gateway& gateway, const Reporter& reporter, const char* ip, const char* backupfilein,
                   const std::vector<int32_t>* channel, const std::vector<std::string>* channelcsvfile,
                   const std::vector<std::string>* channelgroupscsvfile,
                   const std::vector<std::string>* channelinputscsvfile) {
  const ExportMode modes[] = {{channelcsvfile, export_channel_csv, "dali"},
                              {channelgroupscsvfile, export_group_csv, "dali"},
                              {channelinputscsvfile, export_input_csv, "cd"}};
  const ExportMode* mode = nullptr;
  int lists = 0;
  for (const ExportMode& candidate : modes) {
    if (!candidate.paths) continue;
    mode = &candidate;
    ++lists;
  }
  // Exactly one source, one kind of file, and a path for every channel.
  if (!ip == !backupfilein || lists != 1 || !channel || channel->empty() || mode->paths->size() < channel->size()) {
    report(reporter, "Missing arguments for action export_channel.");
    return 2;
  }
  // Paths are checked before anything is read or fetched, so that nothing is
  // asked of the gateway for a file that cannot be written.
  for (std::size_t i = 0; i < channel->size(); ++i) {
    if (!can_write((*mode->paths)[i])) {
      report_error(reporter, "%s\t'%s' cannot be written: its folder is missing or not writable.\n", TAG,
                   (*mode->paths)[i].c_str());
      return 2;
    }
  }
  std::optional<BackupSet> backup;
  if (backupfilein) {
    backup = read_backup(backupfilein);
    if (!backup->problem.empty()) {
      report_error(reporter, "%s\t'%s': %s.\n", TAG, backupfilein, backup->problem.c_str());
      return 1;
    }
  }
  bool all_written = true;
  for (std::size_t i = 0; i < channel->size(); ++i) {
    const BackupSet* source = backup ? &*backup : nullptr;
    std::string why;
    const bool written = export_one(gateway, reporter, ip, source, *mode, (*channel)[i], (*mode->paths)[i], &why);
    event_step(reporter, {"channel", std::to_string((*channel)[i]), i + 1, channel->size(), written ? "done" : "failed",
                          why});
    all_written &= written;
  }
  return all_written ? 0 : 1;
}
