// The console window of one console-tool run: the tool's output appears live,
// then its exit status; the window stays open until the user closes it.
#pragma once

#include <QPlainTextEdit>
#include <QStringDecoder>

#include <functional>

#include "console_filter.h"

class QProcess;

class ConsoleWindow : public QPlainTextEdit {
  Q_OBJECT

 public:
  using Done = std::function<void(int)>;

  // Opens a console window and starts `program` with `arguments` in it. `done`
  // receives the exit status, or -1 when the tool could not start or was stopped.
  static void Run(const QString& program, const QStringList& arguments, const Done& done);
  ~ConsoleWindow() override;

 protected:
  // Closing the window while the tool runs stops the tool, as closing a console does.
  void closeEvent(QCloseEvent* event) override;

 private:
  explicit ConsoleWindow(const Done& done);
  void Append(const QByteArray& output);
  void Insert(const QString& text, const QColor& colour);
  void Finish(int result, const QString& last_line);

  QProcess* process_;
  ConsoleFilter filter_;
  QStringDecoder decoder_{QStringDecoder::Utf8};
  Done done_;
};
