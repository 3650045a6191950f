#include "runs/backup_view.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "runs/gateway_status.h"

std::vector<std::string> show_backup_arguments(const std::string& path) {
  return {"--action", "show_backup", "--backupfilein", path, "--json"};
}

std::vector<std::string> compare_backup_arguments(const std::string& old_path, const std::string& new_path) {
  return {"--action", "diff_backup", "--backupfilein", old_path, "--with", new_path, "--json"};
}

PathDialog open_backup_dialog() {
  return {"Choose a backup to open", {"Backups (*.zip *.tar)", "All files (*)"}, "backup"};
}

PathDialog compare_backup_dialog(const std::string& first_path) {
  return {"Choose a backup to compare with " + first_path, {"Backups (*.zip *.tar)", "All files (*)"}, "backup"};
}

QByteArray backup_report_json(const QuietRun& run) {
  std::string error;
  if (!run.start_error.empty()) {
    error = "varnu-cli could not be started: " + run.start_error;
  } else if (run.timed_out) {
    error = "varnu-cli did not finish reading within " + std::to_string(kBackupReadLimitMs / 1000) + " s.";
  } else if (const std::optional<QJsonObject> document = tool_document(run.out);
             (run.exit_code == 0 || run.exit_code == 1) && document) {
    return QJsonDocument(*document).toJson(QJsonDocument::Compact);
  } else {
    error = last_error_line(run.err);
    if (error.empty()) error = "varnu-cli could not read the backup (exit status " + std::to_string(run.exit_code) + ").";
  }
  return QJsonDocument(QJsonObject{{"error", QString::fromStdString(error)}}).toJson(QJsonDocument::Compact);
}
