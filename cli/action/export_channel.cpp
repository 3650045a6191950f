// The export_channel action: CSV files in the imports' own formats, made from
// a gateway's current records or from a backup, so that the installer can
// start a CSV from what a channel holds.
#include <optional>
#include <span>
#include <string>

#include "action/action.h"
#include "backup/backup.h"
#include "inspect/inspect.h"
#include "platform/platform.h"

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

bool inside_folder(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (folder.back() == '/' || path[folder.size()] == '/');
}

// Why output `i` cannot take a channel's CSV, or empty: its folder, what it
// is now, the backup being read, and the other channels' outputs decide.
std::string unusable_output(const std::vector<std::string>& paths, std::size_t i, const std::vector<int32_t>& channels,
                            const char* backupfilein) {
  const std::string& path = paths[i];
  const platform::PathKind kind = platform::path_kind(path.c_str());
  if (kind == platform::PathKind::Other) return "is not a regular file; it is not replaced.";
  if (!can_write(path)) return "cannot be written: its folder is missing or not writable.";
  const std::optional<std::string> canonical = platform::canonical_path(path.c_str());
  if (backupfilein) {
    const std::optional<std::string> input = platform::canonical_path(backupfilein);
    if (platform::same_file(path.c_str(), backupfilein) || (canonical && input && *canonical == *input))
      return "is the backup being read; the CSV would replace it.";
    if (canonical && input && platform::path_kind(backupfilein) == platform::PathKind::Folder &&
        inside_folder(*canonical, *input))
      return "is inside the backup folder being read.";
  }
  for (std::size_t j = 0; j < i; ++j) {
    const std::optional<std::string> other = platform::canonical_path(paths[j].c_str());
    if (platform::same_file(path.c_str(), paths[j].c_str()) || (canonical && other && *canonical == *other))
      return "is named for channels " + std::to_string(channels[j]) + " and " + std::to_string(channels[i]) +
             "; each channel needs a file of its own.";
  }
  return "";
}

// The configuration `name` ("dali2") from the backup when one was read,
// otherwise fetched from the gateway as setup_channel fetches it.
BackupConfiguration configuration_named(Gateway& gateway, const Reporter& reporter, const char* ip, const BackupSet* backup,
                                        const std::string& name, Transfer* fetch) {
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
  *fetch = fetch_configuration(gateway, reporter, base_url.c_str(), name.c_str(), &fetched);
  if (*fetch != Transfer::Done) {
    missing.problem = "could not be fetched";
    return missing;
  }
  return read_configuration_archive(name + ".tar", fetched.buffer.data);
}

// `fetch` tells what became of the fetch from the gateway (Done when there was none).
bool export_one(Gateway& gateway, const Reporter& reporter, const char* ip, const BackupSet* backup,
                const ExportMode& mode, int32_t channel, const std::string& path, Transfer* fetch) {
  if (channel < 1 || channel > 4) {
    report_error(reporter, "%s\tchannel %d not exported: channels are 1 to 4.\n", TAG, channel);
    return false;
  }
  const std::string name = mode.configuration + std::to_string(channel);
  const BackupConfiguration configuration = configuration_named(gateway, reporter, ip, backup, name, fetch);
  const CsvExport exported = configuration.problem.empty() ? mode.make(configuration.data)
                                                           : CsvExport{name + " " + configuration.problem, {}, {}};
  if (!exported.problem.empty()) {
    report_error(reporter, "%s\tchannel %d not exported: %s.\n", TAG, channel, exported.problem.c_str());
    return false;
  }
  if (!exported.notes.empty()) {
    report_error(reporter, "%s\tchannel %d: values the import cannot express, the nearest written:\n%s", TAG, channel,
                 render_export_notes(exported.notes).c_str());
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(exported.csv.data());
  if (!platform::write_file_replacing(path.c_str(), bytes, exported.csv.size())) {
    report_error(reporter, "%s\tchannel %d not exported: '%s' could not be written.\n", TAG, channel, path.c_str());
    return false;
  }
  report(reporter, "CH=%d\nFILE=%s\nOK\n", channel, path.c_str());
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
    if (const std::string why = unusable_output(*mode->paths, i, *channel, backupfilein); !why.empty()) {
      report_error(reporter, "%s\t'%s' %s\n", TAG, (*mode->paths)[i].c_str(), why.c_str());
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
    Transfer fetch = Transfer::Done;
    all_written &= export_one(gateway, reporter, ip, source, *mode, (*channel)[i], (*mode->paths)[i], &fetch);
    if (fetch == Transfer::Unreachable) {  // the other channels would wait for the same silence
      if (i + 1 < channel->size())
        report_error(reporter, "%s\tthe gateway %s does not answer; the other channels are not exported.\n", TAG, ip);
      return 1;
    }
  }
  return all_written ? 0 : 1;
}
