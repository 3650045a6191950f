#include "bridge/readers.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "app/diagnostics.h"
#include "runs/backup_view.h"
#include "bridge/path_picker.h"
#include "runs/quiet_run.h"

void QueryGatewayStatus(const std::string& address, const std::function<void(const GatewayStatus&)>& done) {
  diagnostic("status " + QString::fromStdString(address));
  if (address.empty()) {
    done(GatewayStatus{{}, "Enter the gateway address."});
    return;
  }
  RunQuietly(status_arguments(address), kStatusQueryLimitMs, [address, done](const QuietRun& run) {
    if (!run.start_error.empty()) {
      done(GatewayStatus{{}, "varnu-cli could not be started: " + run.start_error});
    } else if (run.timed_out) {
      done(status_timed_out(address));
    } else {
      done(read_status_output(run.out, run.err, run.exit_code, address));
    }
  });
}

void ShowBackup(const QString& path, const JsonReply& done) {
  const auto show = [done](const QString& chosen) {
    if (chosen.isEmpty()) {
      done(kNoBackupChosen);
      return;
    }
    diagnostic("show backup " + chosen);
    RunQuietly(show_backup_arguments(chosen.toStdString()), kBackupReadLimitMs,
               [done](const QuietRun& run) { done(backup_report_json(run)); });
  };
  if (path.isEmpty()) {
    PickPath(PathPick::OpenFile, open_backup_dialog(), show);
  } else {
    show(path);
  }
}

void CompareBackups(const QString& old_path, const QString& new_path, const JsonReply& done) {
  if (old_path.isEmpty()) {
    done(QJsonDocument(QJsonObject{{"error", "Open a backup first; it is compared with the one chosen next."}})
             .toJson(QJsonDocument::Compact));
    return;
  }
  const auto compare = [old_path, done](const QString& chosen) {
    if (chosen.isEmpty()) {
      done(kNoBackupChosen);
      return;
    }
    diagnostic("compare backups " + old_path + " " + chosen);
    RunQuietly(compare_backup_arguments(old_path.toStdString(), chosen.toStdString()), kBackupReadLimitMs,
               [done](const QuietRun& run) { done(backup_report_json(run)); });
  };
  if (new_path.isEmpty()) {
    PickPath(PathPick::OpenFile, compare_backup_dialog(old_path.toStdString()), compare);
  } else {
    compare(new_path);
  }
}
