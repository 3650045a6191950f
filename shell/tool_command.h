// The three native functions of the script bridge and the console-tool runs they make.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "varnkit_config.h"

inline constexpr char kAppVersion[] = VARNKIT_VERSION;
inline constexpr char kNoticeCaption[] = "File Path";
inline constexpr char kMissingArguments[] = "Missing or wrong arguments.";
inline constexpr char kNoFolderSelected[] = "No folder selected.";

enum class NativeAction { Backup, Restore, FirmwareUpgrade };

// Results a native function returns besides the tool's own exit status.
inline constexpr int kResultNotRun = -1;   // nothing ran: missing address, no path chosen, no tool
inline constexpr int kResultStopped = -2;  // the tool ran and was stopped before its end

// native_actionBackup, native_actionRestore, native_actionFirmwareUpgrade (exact names); none otherwise.
std::optional<NativeAction> native_action_by_name(std::string_view function_name);

// Backup asks for a folder, the other two for a file.
bool picks_folder(NativeAction action);

// The console tool's arguments for one run. The gateway address and the chosen
// path are single arguments whatever they hold: the tool is started without a
// command interpreter, so no text from a page can become a command of its own.
std::vector<std::string> tool_arguments(NativeAction action, const std::string& address, const std::string& path);

// What a run does, for titles and questions: "backup of ADDRESS",
// "restore onto ADDRESS", "firmware upgrade of ADDRESS".
std::string run_name(NativeAction action, const std::string& address);

// The question asked before a running tool is stopped, e.g. "A restore onto
// 192.0.2.10 is running. Stopping it may leave the gateway partly restored."
std::string stop_question(NativeAction action, const std::string& address);
