#include "console_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <utility>

#include "diagnostics.h"

namespace {

// The colours of a standard console.
const QColor kBackground(0x0C, 0x0C, 0x0C);
const QColor kText(0xCC, 0xCC, 0xCC);
const QColor kGreen(0x13, 0xA1, 0x0E);

}  // namespace

void ConsoleWindow::Run(const QString& program, const QStringList& arguments, const Done& done) {
  auto* window = new ConsoleWindow(done);
  window->show();
  window->process_->start(program, arguments);
}

ConsoleWindow::ConsoleWindow(const Done& done) : process_(new QProcess(this)), done_(done) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("varnu-cli");
  setReadOnly(true);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QPalette colours = palette();
  colours.setColor(QPalette::Base, kBackground);
  colours.setColor(QPalette::Text, kText);
  setPalette(colours);
  resize(760, 440);

  process_->setProcessChannelMode(QProcess::MergedChannels);
  process_->setStandardInputFile(QProcess::nullDevice());
  connect(process_, &QProcess::readyReadStandardOutput, this, [this] { Append(process_->readAllStandardOutput()); });
  connect(process_, &QProcess::finished, this, [this](int exit_code, QProcess::ExitStatus status) {
    Append(process_->readAllStandardOutput());
    if (status == QProcess::NormalExit) {
      Finish(exit_code, QString("varnu-cli ended with exit status %1.").arg(exit_code));
    } else {
      Finish(-1, "varnu-cli was stopped.");
    }
  });
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) Finish(-1, "varnu-cli could not be started: " + process_->errorString());
  });
}

ConsoleWindow::~ConsoleWindow() {
  // Only reached with the tool still running when the program ends; its result has no page left to go to.
  if (process_->state() != QProcess::NotRunning) {
    process_->disconnect(this);
    process_->kill();
    process_->waitForFinished(3000);
  }
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
  if (process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(3000);
  }
  event->accept();
}

void ConsoleWindow::Append(const QByteArray& output) {
  for (const ConsoleSegment& segment : filter_console_output(filter_, std::string_view(output.data(), output.size())))
    Insert(decoder_.decode(QByteArrayView(segment.text.data(), static_cast<qsizetype>(segment.text.size()))),
           segment.green ? kGreen : kText);
}

void ConsoleWindow::Insert(const QString& text, const QColor& colour) {
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  QTextCharFormat format;
  format.setForeground(colour);
  cursor.insertText(text, format);
  moveCursor(QTextCursor::End);
  ensureCursorVisible();
}

void ConsoleWindow::Finish(int result, const QString& last_line) {
  Insert((document()->isEmpty() ? "" : "\n") + last_line, kText);
  diagnostic(QString("console %1 %2").arg(result).arg(
      QString::fromUtf8(QJsonDocument(QJsonArray{toPlainText()}).toJson(QJsonDocument::Compact))));
  if (done_) std::exchange(done_, nullptr)(result);
}
