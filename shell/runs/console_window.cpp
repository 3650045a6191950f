#include "runs/console_window.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QList>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "app/diagnostics.h"
#include "app/platform.h"
#include "runs/message_boxes.h"
#include "runs/run_log.h"

namespace {

// The colours of a standard console.
const QColor kBackground(0x0C, 0x0C, 0x0C);
const QColor kText(0xCC, 0xCC, 0xCC);
const QColor kGreen(0x13, 0xA1, 0x0E);

// How long a tool may take to end after it was asked to, before it is killed.
constexpr int kStopGraceMs = 3000;

QJsonObject& last_run() {
  static QJsonObject record{{"log", ""}, {"archive", ""}};
  return record;
}

QList<QPointer<ConsoleWindow>>& all_windows() {
  static QList<QPointer<ConsoleWindow>> windows;
  return windows;
}

}  // namespace

void ConsoleWindow::Run(const QString& program, const QStringList& arguments, const RunNames& names,
                        const Done& done, qsizetype events_at) {
  auto* window = new ConsoleWindow(names, done);
  window->show();
  // The tool tells its run as events on a pipe of its own; the window reads nothing else.
  int write_fd = -1;
  QStringList with_events = arguments;
  if (shell_platform::make_events_pipe(window->events_fd_, write_fd)) {
    with_events.insert(events_at < 0 ? with_events.size() : events_at, QString("--events=%1").arg(write_fd));
    window->process_->setChildProcessModifier([write_fd] { shell_platform::keep_open_in_child(write_fd); });
    window->events_ = new QSocketNotifier(window->events_fd_, QSocketNotifier::Read, window);
    connect(window->events_, &QSocketNotifier::activated, window, &ConsoleWindow::ReadEvents);
  } else {
    diagnostic("no events pipe: the run view stays empty");
  }
  window->process_->start(program, with_events);
  shell_platform::close_descriptor(write_fd);
}

bool ConsoleWindow::ConfirmStopAll(QWidget* parent) {
  QList<QPointer<ConsoleWindow>> running;
  QStringList questions;
  for (const QPointer<ConsoleWindow>& window : all_windows()) {
    if (window && window->Running()) {
      running << window;
      questions << window->question_;
    }
  }
  if (running.isEmpty()) return true;
  if (!AskToStop(parent, questions.join("\n"))) return false;
  for (const QPointer<ConsoleWindow>& window : running) {
    if (window) window->Stop();
  }
  return true;
}

const QJsonObject& ConsoleWindow::LastRun() { return last_run(); }

QString ConsoleWindow::CurrentProgress() {
  for (auto window = all_windows().crbegin(); window != all_windows().crend(); ++window) {
    if (*window && (*window)->Running())
      return (*window)->account_.Progress();
  }
  return {};
}

bool ConsoleWindow::AnyRunning() {
  return std::any_of(all_windows().cbegin(), all_windows().cend(),
                     [](const QPointer<ConsoleWindow>& window) { return window && window->Running(); });
}

ConsoleWindow::ConsoleWindow(const RunNames& names, const Done& done)
    : rows_(new QListWidget(this)),
      summary_(new QLabel(this)),
      text_(new QPlainTextEdit(this)),
      stop_button_(new QPushButton("&Stop", this)),
      close_button_(new QPushButton("&Close", this)),
      process_(new QProcess(this)),
      tool_(QString::fromStdString(names.tool)),
      question_(QString::fromStdString(names.question)),
      log_name_(QString::fromStdString(
          log_file_name(QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss").toStdString(), names.log_part))),
      done_(done) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromStdString(names.tool + ": " + names.what));
  text_->setReadOnly(true);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QPalette colours = text_->palette();
  colours.setColor(QPalette::Base, kBackground);
  colours.setColor(QPalette::Text, kText);
  text_->setPalette(colours);
  cursor_ = QTextCursor(text_->document());
  summary_->setWordWrap(true);
  summary_->setTextFormat(Qt::PlainText);
  summary_->setText("Running…");
  auto* details = new QPushButton("&Details", this);
  details->setCheckable(true);
  text_->hide();
  close_button_->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(details);
  buttons->addStretch();
  buttons->addWidget(stop_button_);
  buttons->addWidget(close_button_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(rows_, 1);
  layout->addWidget(summary_);
  layout->addWidget(text_, 2);
  layout->addLayout(buttons);
  connect(details, &QPushButton::toggled, text_, &QWidget::setVisible);
  connect(close_button_, &QPushButton::clicked, this, &QWidget::close);
  resize(760, 460);
  all_windows() << this;

  connect(stop_button_, &QPushButton::clicked, this, [this] {
    if (Running() && AskToStop(this, question_)) Stop();
  });
  process_->setProcessChannelMode(QProcess::MergedChannels);
  process_->setStandardInputFile(QProcess::nullDevice());
  connect(process_, &QProcess::readyReadStandardOutput, this, [this] { Append(process_->readAllStandardOutput()); });
  connect(process_, &QProcess::finished, this, [this](int exit_code, QProcess::ExitStatus status) {
    Append(process_->readAllStandardOutput());
    if (stop_requested_) {
      Finish(kResultStopped, tool_ + " was stopped before the end.");
    } else if (status != QProcess::NormalExit) {
      // After a crash, QProcess reports the number of the signal that ended the tool as its exit code.
      Finish(kResultEndedUnexpectedly, QString("%1 ended unexpectedly (signal %2).").arg(tool_).arg(exit_code));
    } else {
      Finish(exit_code, QString("%1 ended with exit status %2.").arg(tool_).arg(exit_code));
    }
  });
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart)
      Finish(kResultNotRun, tool_ + " could not be started: " + process_->errorString());
  });
}

ConsoleWindow::~ConsoleWindow() {
  all_windows().removeAll(this);
  shell_platform::close_descriptor(events_fd_);
  // Only reached with the tool still running when the program ends: the run is stopped and still logged.
  if (Running()) {
    process_->disconnect(this);
    Stop();
    Finish(kResultStopped, tool_ + " was stopped before the end.");
  }
}

bool ConsoleWindow::Running() const { return process_->state() != QProcess::NotRunning; }

void ConsoleWindow::Stop() {
  stop_requested_ = true;
  process_->terminate();
  if (!process_->waitForFinished(kStopGraceMs)) {
    process_->kill();
    process_->waitForFinished(kStopGraceMs);
  }
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
  // A stopped run keeps its window, with its last lines, until the user closes it again.
  if (Running()) {
    if (AskToStop(this, question_)) Stop();
    event->ignore();
    return;
  }
  event->accept();
}

void ConsoleWindow::Append(const QByteArray& output) {
  for (const ConsoleSegment& segment : filter_console_output(filter_, std::string_view(output.data(), output.size()))) {
    if (segment.line_start) cursor_.movePosition(QTextCursor::StartOfBlock);
    Write(decoder_.decode(QByteArrayView(segment.text.data(), static_cast<qsizetype>(segment.text.size()))),
          segment.green ? kGreen : kText);
  }
}

void ConsoleWindow::ReadEvents() {
  if (events_fd_ < 0) return;
  bool ended = false;
  const std::string arrived = shell_platform::read_available(events_fd_, ended);
  if (ended) {
    delete events_;
    events_ = nullptr;
    shell_platform::close_descriptor(std::exchange(events_fd_, -1));
  }
  const qsizetype shown = account_.Rows().size();
  account_.Feed(QByteArray::fromStdString(arrived));
  const QJsonArray rows = account_.Rows();
  for (qsizetype i = shown; i < rows.size(); ++i) {
    const QJsonObject row = rows[i].toObject();
    rows_->addItem(row.value("mark").toString() + "  " + row.value("text").toString());
  }
  if (rows.size() > shown) rows_->scrollToBottom();
  if (!account_.Progress().isEmpty() && !finished_) summary_->setText("Running… " + account_.Progress());
}

void ConsoleWindow::Write(const QString& text, const QColor& colour) {
  QTextCharFormat format;
  format.setForeground(colour);
  const QStringList lines = text.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (i > 0) {
      cursor_.movePosition(QTextCursor::End);
      cursor_.insertText("\n", format);
    }
    if (lines[i].isEmpty()) continue;
    // Only the last line is ever rewritten, so what lies after the cursor is the rest of that line.
    const int rest = cursor_.block().length() - 1 - cursor_.positionInBlock();
    cursor_.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor,
                         std::min(rest, static_cast<int>(lines[i].size())));
    cursor_.insertText(lines[i], format);
  }
  text_->moveCursor(QTextCursor::End);
  text_->ensureCursorVisible();
}

void ConsoleWindow::Finish(int result, const QString& last_line) {
  if (finished_) return;
  ReadEvents();
  finished_ = true;
  stop_button_->setEnabled(false);
  close_button_->setEnabled(true);
  close_button_->setDefault(true);
  // Without a summary the tool did not end on its own terms: its exit line says how it ended.
  const QString summary = account_.SummaryLine();
  summary_->setText(summary.isEmpty() ? last_line : summary);
  cursor_.movePosition(QTextCursor::End);
  Write((text_->document()->isEmpty() ? "" : "\n") + last_line, kText);
  const QString console_text = text_->toPlainText();
  diagnostic(QString("console %1 %2").arg(result).arg(
      QString::fromUtf8(QJsonDocument(QJsonArray{console_text}).toJson(QJsonDocument::Compact))));
  // The console text outlives its window in the user's state folder.
  const QString logged = WriteRunLog(log_name_, console_text.toUtf8() + "\n");
  if (logged.isEmpty()) diagnostic("log not written: " + LogFolder() + log_name_);
  QJsonObject record = account_.Record();
  record.insert("log", logged);
  last_run() = record;
  // Where the log went is said where the run is seen.
  const QString log_line = logged.isEmpty() ? "The log could not be written to " + LogFolder()
                                            : "Log: " + LogFolder() + logged;
  summary_->setText(summary_->text() + "\n" + log_line);
  diagnostic("run view " + QString::fromUtf8(QJsonDocument(QJsonObject{{"rows", account_.Rows()},
                                                                         {"summary", summary_->text()}})
                                                  .toJson(QJsonDocument::Compact)));
  if (done_) std::exchange(done_, nullptr)(result);
}
