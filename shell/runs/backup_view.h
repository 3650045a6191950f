// Backups read in the window: the console tool decodes one backup
// (show_backup) or compares two (diff_backup) and prints one JSON document,
// which the shell hands to the page, or a JSON object with an "error" member.
#pragma once

#include <QByteArray>

#include <string>
#include <vector>

#include "runs/quiet_run.h"
#include "runs/tool_command.h"

// How long reading or comparing backups may take before the shell gives up;
// the tool needs well under a second for a full backup.
inline constexpr int kBackupReadLimitMs = 30000;

// The page's answer when the user closed the dialog without choosing.
inline constexpr char kNoBackupChosen[] = "{\"cancelled\":true}";

std::vector<std::string> show_backup_arguments(const std::string& path);
std::vector<std::string> compare_backup_arguments(const std::string& old_path, const std::string& new_path);

PathDialog open_backup_dialog();
PathDialog compare_backup_dialog(const std::string& first_path);

// The document the tool printed when it ended with 0 or 1 (a comparison's
// "different", a backup with a problem) and printed a JSON object after its
// echo lines (tool_document); else {"error": ...} with the tool's last line on
// standard error or what went wrong. Compact JSON text.
QByteArray backup_report_json(const QuietRun& run);
