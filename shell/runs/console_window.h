// The run view of one console-tool run: one row per step with its outcome and
// reason, a summary line at the end, all from the tool's events; the tool's own
// output stays under "Details". The window stays open until the user closes it.
// A run is stopped only after the user confirmed it, here or when the main window closes.
#pragma once

#include <QJsonObject>
#include <QPointer>
#include <QStringDecoder>
#include <QTextCursor>
#include <QWidget>

#include <functional>
#include <string>

#include "runs/console_filter.h"
#include "runs/run_events.h"
#include "runs/tool_command.h"

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProcess;
class QPushButton;
class QSocketNotifier;

class ConsoleWindow : public QWidget {
  Q_OBJECT

 public:
  using Done = std::function<void(int)>;

  // Opens a console window titled after the run and starts `program` with
  // `arguments` in it. `done` receives the exit status, kResultNotRun when the
  // tool could not start, kResultStopped when it was stopped before its end, or
  // kResultEndedUnexpectedly when a signal the shell did not send ended it.
  // The option that names the events descriptor goes at `events_at` in the
  // arguments (after a site subcommand), or last when it is -1.
  static void Run(const QString& program, const QStringList& arguments, const RunNames& names, const Done& done,
                  qsizetype events_at = -1);

  // When tools run, asks over `parent` whether to stop them (keeping them running
  // is the default) and stops them if the user says so. True when none runs any more.
  static bool ConfirmStopAll(QWidget* parent);

  // What the last finished run left behind, for the page: RunAccount::Record()
  // and "log", the file name in the logs folder (empty when it could not be written).
  static const QJsonObject& LastRun();

  // How far the run started last has got while it runs, from its events; empty otherwise.
  static QString CurrentProgress();

  // True while a tool runs in any run view.
  static bool AnyRunning();

  ~ConsoleWindow() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  ConsoleWindow(const RunNames& names, const Done& done);
  bool Running() const;
  // Ends the tool: asks it to end, kills it after a grace period.
  void Stop();
  void Append(const QByteArray& output);
  // Reads the tool's events that arrived and shows their steps.
  void ReadEvents();
  // Writes at the write cursor, overwriting what a carriage return left behind.
  void Write(const QString& text, const QColor& colour);
  void Finish(int result, const QString& last_line);

  QListWidget* rows_;
  QLabel* summary_;
  QPlainTextEdit* text_;
  QPushButton* stop_button_;
  QPushButton* close_button_;
  QProcess* process_;
  QTextCursor cursor_;
  ConsoleFilter filter_;
  RunAccount account_;
  int events_fd_ = -1;
  QSocketNotifier* events_ = nullptr;
  QStringDecoder decoder_{QStringDecoder::Utf8};
  const QString tool_;
  QString question_;
  QString log_name_;
  bool finished_ = false;
  bool stop_requested_ = false;
  Done done_;
};
