// The account of one console-tool run, read from the JSON lines the tool writes
// to its events descriptor: steps with their outcomes, upload progress, files
// written, warnings and the final summary. The window never reads the tool's
// human lines; everything it shows or tells the page comes from here.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class RunAccount {
 public:
  // Takes the next chunk of the events stream; a line split between chunks waits
  // for its end. Lines that are not JSON objects are ignored.
  void Feed(const QByteArray& chunk);

  // How far the run has got: "3 of 22" from the last step (the real total; for
  // a site's gateways, how many have finished), "45%" during a firmware upload;
  // empty before either.
  QString Progress() const;

  // One row per step: {"mark": "✓" or "✗" or "–", "text": "dali2: HTTP 500"}.
  QJsonArray Rows() const;

  // The closing line: "Backup incomplete: dali2 missing (HTTP 500)" or the
  // counts ("3 configurations done, 1 failed"); empty before the summary.
  QString SummaryLine() const;

  // For the page: result ("done", "warnings", "failed", "usage" or "" without a
  // summary), summary (SummaryLine), warnings and notices (texts), files
  // ({kind, path}), archive (the backup written, if any), steps (Rows).
  QJsonObject Record() const;

 private:
  void Take(const QJsonObject& event);

  QByteArray pending_;
  QString action_;
  QJsonArray steps_;
  QJsonArray warnings_;
  QJsonArray notices_;
  QJsonArray files_;
  QJsonObject summary_;
  QString progress_;
  qint64 gateways_finished_ = 0;
};
