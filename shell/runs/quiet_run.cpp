#include "runs/quiet_run.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

#include "app/paths.h"

QString ConsoleToolPath() {
  return QString::fromStdString(console_tool_path(QCoreApplication::applicationDirPath().toStdString()));
}

QString SiteToolPath() {
  return QString::fromStdString(site_tool_path(QCoreApplication::applicationDirPath().toStdString()));
}

void RunQuietly(const std::vector<std::string>& arguments, int limit_ms,
                const std::function<void(const QuietRun&)>& done) {
  RunQuietly(ConsoleToolPath(), arguments, limit_ms, done);
}

void RunQuietly(const QString& program, const std::vector<std::string>& arguments, int limit_ms,
                const std::function<void(const QuietRun&)>& done) {
  // The process and its timer die with the run.
  auto* process = new QProcess;
  auto* limit = new QTimer(process);
  limit->setSingleShot(true);
  auto finish = [process, done](const QuietRun& run) {
    process->disconnect();
    process->deleteLater();
    done(run);
  };
  QObject::connect(limit, &QTimer::timeout, process, [process, finish] {
    process->kill();
    QuietRun run;
    run.timed_out = true;
    finish(run);
  });
  QObject::connect(process, &QProcess::finished, process, [process, finish](int exit_code, QProcess::ExitStatus how) {
    QuietRun run;
    run.out = process->readAllStandardOutput().toStdString();
    run.err = process->readAllStandardError().toStdString();
    run.exit_code = how == QProcess::NormalExit ? exit_code : -1;
    finish(run);
  });
  QObject::connect(process, &QProcess::errorOccurred, process, [process, finish](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    QuietRun run;
    run.start_error = process->errorString().toStdString();
    finish(run);
  });
  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromStdString(argument);
  process->setStandardInputFile(QProcess::nullDevice());
  limit->start(limit_ms);
  process->start(program, list);
}
