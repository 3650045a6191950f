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
