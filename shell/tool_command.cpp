#include "tool_command.h"

std::optional<NativeAction> native_action_by_name(std::string_view function_name) {
  if (function_name == "native_actionBackup") return NativeAction::Backup;
  if (function_name == "native_actionRestore") return NativeAction::Restore;
  if (function_name == "native_actionFirmwareUpgrade") return NativeAction::FirmwareUpgrade;
  return std::nullopt;
}

bool picks_folder(NativeAction action) { return action == NativeAction::Backup; }

std::vector<std::string> tool_arguments(NativeAction action, const std::string& address, const std::string& path) {
  switch (action) {
    case NativeAction::Backup:
      return {"--action=get_backup", "--ip=" + address, "--backupfileouttype=zip", "--backupfileout=" + path};
    case NativeAction::Restore:
      return {"--action", "put_backup", "--ip", address, "--backupfilein=" + path};
    case NativeAction::FirmwareUpgrade:
      return {"--action", "push_firmware", "--ip", address, "--firmwarefile=" + path};
  }
  return {};
}

std::string run_name(NativeAction action, const std::string& address) {
  switch (action) {
    case NativeAction::Backup: return "backup of " + address;
    case NativeAction::Restore: return "restore onto " + address;
    case NativeAction::FirmwareUpgrade: return "firmware upgrade of " + address;
  }
  return {};
}

std::string stop_question(NativeAction action, const std::string& address) {
  const char* consequence = "";
  switch (action) {
    case NativeAction::Backup: consequence = "Stopping it leaves no backup archive."; break;
    case NativeAction::Restore: consequence = "Stopping it may leave the gateway partly restored."; break;
    case NativeAction::FirmwareUpgrade: consequence = "Stopping it may leave the gateway partly upgraded."; break;
  }
  return "A " + run_name(action, address) + " is running. " + consequence;
}
