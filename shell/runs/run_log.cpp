#include "runs/run_log.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>

#include <vector>

#include "app/diagnostics.h"
#include "app/paths.h"
#include "app/platform.h"
#include "runs/tool_command.h"

namespace {

void Prune(const QString& folder) {
  std::vector<RunLogFile> logs;
  for (const QFileInfo& file : QDir(folder).entryInfoList({"*.log"}, QDir::Files | QDir::Hidden))
    logs.push_back({file.fileName().toStdString(), static_cast<std::uint64_t>(file.size())});
  for (const std::string& name : logs_to_prune(logs)) QFile::remove(folder + QString::fromStdString(name));
}

}  // namespace

QString LogFolder() {
  const std::string state = state_folder(shell_platform::user_state_home());
  return state.empty() ? QString() : QString::fromStdString(state) + "logs/";
}

bool MakeStateFolder() {
  const std::string home = shell_platform::user_state_home();
  return !home.empty() && shell_platform::make_private_folder(home, "varnkit");
}

QString WriteRunLog(const QString& name, const QByteArray& text) {
  const QString folder = LogFolder();
  if (folder.isEmpty() || !MakeStateFolder() ||
      !shell_platform::make_private_folder(state_folder(shell_platform::user_state_home()), "logs"))
    return {};
  QString written = name;
  int fd = shell_platform::create_private_file((folder + written).toStdString());
  // Two runs of one kind on one gateway within a second.
  for (int number = 2; fd < 0 && number < 100; ++number) {
    written = name.chopped(4) + QString("-%1.log").arg(number);
    fd = shell_platform::create_private_file((folder + written).toStdString());
  }
  QFile log;
  if (fd < 0 || !log.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) return {};
  const bool logged = log.write(text) == text.size() && log.flush();
  log.close();
  Prune(folder);
  return logged ? written : QString();
}

bool ShowLog(const QString& name) {
  QFile file(LogFolder() + name);
  if (!is_log_file_name(name.toStdString()) || !file.open(QIODevice::ReadOnly)) {
    diagnostic("log missing " + name);
    return false;
  }
  diagnostic("log shown " + name);
  auto* view = new QPlainTextEdit;
  view->setAttribute(Qt::WA_DeleteOnClose);
  view->setReadOnly(true);
  view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view->setWindowTitle("varnkit log: " + name);
  view->setPlainText(QString::fromUtf8(file.readAll()));
  view->resize(760, 460);
  view->show();
  return true;
}
