// The console window of one console-tool run: the tool's output appears live,
// then its exit status; the window stays open until the user closes it. A run
// is stopped only after the user confirmed it, here or when the main window closes.
#pragma once

#include <QPointer>
#include <QStringDecoder>
#include <QTextCursor>
#include <QWidget>

#include <functional>
#include <string>

#include "runs/console_filter.h"
#include "runs/tool_command.h"

class QPlainTextEdit;
class QProcess;
class QPushButton;

// What the last finished run left behind, for the page.
struct RunRecord {
  QString log;      // file name in the logs folder; empty when it could not be written
  QString archive;  // the backup archive the tool saved; empty otherwise
};

class ConsoleWindow : public QWidget {
  Q_OBJECT

 public:
  using Done = std::function<void(int)>;

  // Opens a console window titled after the run and starts `program` with
  // `arguments` in it. `done` receives the exit status, kResultNotRun when the
  // tool could not start, kResultStopped when it was stopped before its end, or
  // kResultEndedUnexpectedly when a signal the shell did not send ended it.
  static void Run(const QString& program, const QStringList& arguments, NativeAction action,
                  const std::string& gateway, const Done& done);

  // When tools run, asks over `parent` whether to stop them (keeping them running
  // is the default) and stops them if the user says so. True when none runs any more.
  static bool ConfirmStopAll(QWidget* parent);

  static const RunRecord& LastRun();

  // How far the run started last has got while it runs (run_progress); empty otherwise.
  static QString CurrentProgress();

  ~ConsoleWindow() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  ConsoleWindow(NativeAction action, const std::string& gateway, const Done& done);
  bool Running() const;
  // Ends the tool: asks it to end, kills it after a grace period.
  void Stop();
  void Append(const QByteArray& output);
  // Writes at the write cursor, overwriting what a carriage return left behind.
  void Write(const QString& text, const QColor& colour);
  void Finish(int result, const QString& last_line);

  QPlainTextEdit* text_;
  QPushButton* stop_button_;
  QProcess* process_;
  QTextCursor cursor_;
  ConsoleFilter filter_;
  QStringDecoder decoder_{QStringDecoder::Utf8};
  const NativeAction action_;
  QString question_;
  QString log_name_;
  bool finished_ = false;
  bool stop_requested_ = false;
  Done done_;
};
