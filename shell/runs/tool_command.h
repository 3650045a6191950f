// The action functions of the script bridge and the console-tool runs they make.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>



enum class NativeAction { Backup, Restore, FirmwareUpgrade, SetupChannel, ExportChannel };

// What a channel setup installs: which channel (1 to 4) from which kind of CSV
// file: "gear" (channel CSV), "groups" or "inputs".
struct ChannelChoice {
  int channel = 0;
  std::string kind;
};

// Results a native function returns besides the tool's own exit status.
inline constexpr int kResultNotRun = -1;   // nothing ran: missing address, no path chosen, no tool
inline constexpr int kResultStopped = -2;  // the tool ran and was stopped before its end
inline constexpr int kResultDeclined = -3; // the user said no at the confirmation: nothing was written
inline constexpr int kResultRefused = -4;  // firmware for another model: nothing was sent
inline constexpr int kResultEndedUnexpectedly = -5;  // the tool died by a signal the shell did not send

// native_actionBackup, native_actionRestore, native_actionFirmwareUpgrade,
// native_actionSetupChannel, native_actionExportChannel (exact names); none otherwise.
std::optional<NativeAction> native_action_by_name(std::string_view function_name);

// The channel and kind texts a page passed; none unless the channel is 1 to 4
// and the kind is one of the three.
std::optional<ChannelChoice> channel_choice(std::string_view channel, std::string_view kind);

// What an action's dialog picks: a backup's folder, a file to read, or the CSV file an export writes.
enum class PathPick { Folder, OpenFile, SaveFile };
PathPick path_pick(NativeAction action);

// True for the actions that need a channel and a kind (setup and export).
bool needs_channel(NativeAction action);

// The console tool's arguments for one run. The gateway address and the chosen
// path are single arguments whatever they hold: the tool is started without a
// command interpreter, so no text from a page can become a command of its own.
// The file dialog of an action: its title, its filters (the first applies, "All
// files" is the second), the kind of file under which its last folder is kept,
// and for a file to save the name it suggests and the suffix a typed name gets.
struct PathDialog {
  std::string title;
  std::vector<std::string> filters;
  std::string kind;
  std::string suggested_name = {};
  std::string default_suffix = {};
};
PathDialog path_dialog(NativeAction action, const std::string& address, const ChannelChoice& choice = {});

// A channel setup or export also needs `choice`; the path then goes as a JSON string.
std::vector<std::string> tool_arguments(NativeAction action, const std::string& address, const std::string& path,
                                        const ChannelChoice& choice = {});

// The log file of a run started at `when` (local time, "YYYYmmdd-HHMMSS"):
// "20260102-030405-restore-192.0.2.10.log". Characters of the address other
// than letters, digits, '.', '-' and '_' become '_', so the name is one plain file name.
std::string log_file_name(const std::string& when, NativeAction action, const std::string& address);
// The same for a run named by `part` ("site-backup-building.csv"), made safe the same way.
std::string log_file_name(const std::string& when, const std::string& part);

// True for a plain file name ending in ".log" (no folder, not hidden).
bool is_log_file_name(const std::string& name);

// How many run logs, and how many bytes of them, are kept.
inline constexpr std::size_t kKeptRunLogs = 200;
inline constexpr std::uint64_t kKeptRunLogBytes = 50ull << 20;

struct RunLogFile {
  std::string name;
  std::uint64_t size = 0;
};

// The logs to delete so that the newest kKeptRunLogs remain, and of those only as
// many of the newest as fit in kKeptRunLogBytes (the newest one always stays).
// Names start with the run's time, so the newest sort last.
std::vector<std::string> logs_to_prune(std::vector<RunLogFile> logs);

// What a run does, for titles and questions: "backup of ADDRESS",
// "restore onto ADDRESS", "firmware upgrade of ADDRESS", "CSV export from ADDRESS".
std::string run_name(NativeAction action, const std::string& address);

// The question asked before a running tool is stopped, e.g. "A restore onto
// 192.0.2.10 is running. Stopping it may leave the gateway partly restored."
std::string stop_question(NativeAction action, const std::string& address);

// How a run is named where it is seen: its run view's title ("varnu-cli: restore
// onto 192.0.2.10"), the question before it is stopped and its log file.
struct RunNames {
  std::string tool;      // "varnu-cli" or "varnu-site"; also named in the run's closing line
  std::string what;      // "restore onto 192.0.2.10"
  std::string question;  // as stop_question()
  std::string log_part;  // "restore-192.0.2.10", the log's name after its time
};
RunNames run_names(NativeAction action, const std::string& address);
// The site runs: every gateway of the site file backed up, one gateway restored from the site's history.
RunNames site_backup_names(const std::string& site_path);
RunNames site_restore_names(const std::string& gateway_name, const std::string& address);
