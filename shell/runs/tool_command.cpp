#include "runs/tool_command.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

// `text` as a JSON string: the tool reads its CSV file lists as JSON.
std::string json_string(const std::string& text) {
  const QByteArray array = QJsonDocument(QJsonArray{QString::fromStdString(text)}).toJson(QJsonDocument::Compact);
  return array.mid(1, array.size() - 2).toStdString();
}

}  // namespace

std::optional<NativeAction> native_action_by_name(std::string_view function_name) {
  if (function_name == "native_actionBackup") return NativeAction::Backup;
  if (function_name == "native_actionRestore") return NativeAction::Restore;
  if (function_name == "native_actionFirmwareUpgrade") return NativeAction::FirmwareUpgrade;
  if (function_name == "native_actionSetupChannel") return NativeAction::SetupChannel;
  if (function_name == "native_actionExportChannel") return NativeAction::ExportChannel;
  return std::nullopt;
}

std::optional<ChannelChoice> channel_choice(std::string_view channel, std::string_view kind) {
  if (channel.size() != 1 || channel[0] < '1' || channel[0] > '4') return std::nullopt;
  if (kind != "gear" && kind != "groups" && kind != "inputs") return std::nullopt;
  return ChannelChoice{channel[0] - '0', std::string(kind)};
}

PathPick path_pick(NativeAction action) {
  if (action == NativeAction::Backup) return PathPick::Folder;
  return action == NativeAction::ExportChannel ? PathPick::SaveFile : PathPick::OpenFile;
}

bool needs_channel(NativeAction action) {
  return action == NativeAction::SetupChannel || action == NativeAction::ExportChannel;
}

PathDialog path_dialog(NativeAction action, const std::string& address, const ChannelChoice& choice) {
  const std::string all = "All files (*)";
  switch (action) {
    case NativeAction::Backup: return {"Choose the folder for the backup of " + address, {}, "backup-folder"};
    case NativeAction::Restore: return {"Choose a backup to restore", {"Backups (*.zip *.tar)", all}, "backup"};
    case NativeAction::FirmwareUpgrade:
      return {"Choose a firmware package", {"Firmware packages (*.bin *.binary)", all}, "firmware"};
    case NativeAction::SetupChannel:
      return {"Choose the CSV file for channel " + std::to_string(choice.channel), {"CSV files (*.csv)", all}, "csv"};
    case NativeAction::ExportChannel:
      return {"Save channel " + std::to_string(choice.channel) + " of " + address + " as CSV",
              {"CSV files (*.csv)", all},
              "csv",
              "channel-" + std::to_string(choice.channel) + "-" + choice.kind + ".csv",
              "csv"};
  }
  return {};
}

std::vector<std::string> tool_arguments(NativeAction action, const std::string& address, const std::string& path,
                                        const ChannelChoice& choice) {
  switch (action) {
    case NativeAction::Backup:
      return {"--action=get_backup", "--ip=" + address, "--backupfileouttype=zip", "--backupfileout=" + path};
    case NativeAction::Restore:
      return {"--action", "put_backup", "--ip", address, "--backupfilein=" + path};
    case NativeAction::FirmwareUpgrade:
      // The upgrade counts only once the gateway runs the new version.
      return {"--action", "push_firmware", "--ip", address, "--verify", "--firmwarefile=" + path};
    case NativeAction::SetupChannel:
    case NativeAction::ExportChannel: {
      const char* list = choice.kind == "groups"   ? "--channelgroupscsvfile="
                         : choice.kind == "inputs" ? "--channelinputscsvfile="
                                                   : "--channelcsvfile=";
      return {"--action", action == NativeAction::ExportChannel ? "export_channel" : "setup_channel", "--ip", address,
              "--channel=" + std::to_string(choice.channel), list + json_string(path)};
    }
  }
  return {};
}

std::string run_name(NativeAction action, const std::string& address) {
  switch (action) {
    case NativeAction::Backup: return "backup of " + address;
    case NativeAction::Restore: return "restore onto " + address;
    case NativeAction::FirmwareUpgrade: return "firmware upgrade of " + address;
    case NativeAction::SetupChannel: return "channel setup of " + address;
    case NativeAction::ExportChannel: return "CSV export from " + address;
  }
  return {};
}

std::string stop_question(NativeAction action, const std::string& address) {
  const char* consequence = "";
  switch (action) {
    case NativeAction::Backup: consequence = "Stopping it leaves no backup archive."; break;
    case NativeAction::Restore: consequence = "Stopping it may leave the gateway partly restored."; break;
    case NativeAction::FirmwareUpgrade: consequence = "Stopping it may leave the gateway partly upgraded."; break;
    case NativeAction::SetupChannel: consequence = "Stopping it may leave the channel partly set up."; break;
    case NativeAction::ExportChannel: consequence = "Stopping it leaves the CSV file as it was."; break;
  }
  return "A " + run_name(action, address) + " is running. " + consequence;
}

RunNames run_names(NativeAction action, const std::string& address) {
  static const char* const kinds[] = {"backup", "restore", "firmware", "channel", "export"};
  return {"varnu-cli", run_name(action, address), stop_question(action, address),
          std::string(kinds[static_cast<int>(action)]) + "-" + address};
}

RunNames site_backup_names(const std::string& site_path) {
  const std::string file = site_path.substr(site_path.rfind('/') + 1);
  const std::string what = "backup of the site " + file;
  return {"varnu-site", what,
          "A " + what + " is running. Stopping it leaves the gateways not yet backed up without a new version.",
          "site-backup-" + file};
}

RunNames site_restore_names(const std::string& gateway_name, const std::string& address) {
  const std::string what = "restore onto " + gateway_name + " (" + address + ")";
  return {"varnu-site", what, "A " + what + " is running. Stopping it may leave the gateway partly restored.",
          "restore-" + gateway_name};
}

std::string log_file_name(const std::string& when, NativeAction action, const std::string& address) {
  return log_file_name(when, run_names(action, address).log_part);
}

std::string log_file_name(const std::string& when, const std::string& part) {
  std::string safe = part;
  for (char& c : safe) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-' || c == '_';
    if (!plain) c = '_';
  }
  return when + "-" + safe + ".log";
}

bool is_log_file_name(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0 && name.find('/') == std::string::npos &&
         name[0] != '.';
}

std::vector<std::string> logs_to_prune(std::vector<RunLogFile> logs) {
  std::sort(logs.begin(), logs.end(), [](const RunLogFile& a, const RunLogFile& b) { return a.name > b.name; });
  std::vector<std::string> pruned;
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < logs.size(); ++i) {
    bytes += logs[i].size;
    if (i > 0 && (i >= kKeptRunLogs || bytes > kKeptRunLogBytes)) pruned.push_back(logs[i].name);
  }
  return pruned;
}
