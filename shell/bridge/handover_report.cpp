#include "bridge/handover_report.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

#include <memory>
#include <utility>

#include "app/diagnostics.h"
#include "bridge/path_picker.h"
#include "runs/site_command.h"

namespace {

constexpr char kCancelled[] = "{\"cancelled\":true}";
// A report is one local file: a long one loads and prints in seconds.
constexpr int kPrintLimitMs = 120000;
// varnu-site decodes the latest version of every gateway the report names.
constexpr int kReportLimitMs = 120000;
// A live report first backs the gateway up: 22 configurations, each request within the tool's own limits.
constexpr int kLiveBackupLimitMs = 600000;

// The report has no outside resources; whatever else it asks for is refused.
class OnlyTheReport : public QWebEngineUrlRequestInterceptor {
 public:
  OnlyTheReport(const QUrl& report, QObject* parent) : QWebEngineUrlRequestInterceptor(parent), report_(report) {}

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    if (info.requestUrl() == report_) return;
    diagnostic("report: blocked " + info.requestUrl().toString());
    info.block(true);
  }

 private:
  const QUrl report_;
};

QString Write(const QString& path, const QByteArray& data) {
  if (data.isEmpty()) return "The browser runtime could not print the report.";
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
    return "The PDF could not be written to " + path + ": " + file.errorString();
  return {};
}

// Prints `html` (a local file) to the PDF file `pdf`, written whole or not at
// all; `done` receives an empty text, or what went wrong.
void PrintReport(const QString& html, const QString& pdf, const std::function<void(const QString&)>& done) {
  const QUrl report = QUrl::fromLocalFile(html);
  // A profile of its own, kept in memory only: no cookies or cache of the kit's pages, no script bridge.
  auto* profile = new QWebEngineProfile;
  profile->setUrlRequestInterceptor(new OnlyTheReport(report, profile));
  auto* page = new QWebEnginePage(profile);
  QWebEngineSettings* settings = page->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  auto* limit = new QTimer(page);
  limit->setSingleShot(true);
  // The page goes before its profile, as the runtime requires.
  QObject::connect(page, &QObject::destroyed, profile, &QObject::deleteLater);
  // The time limit and the printing may both end it; the first one counts.
  auto finished = std::make_shared<bool>(false);
  auto finish = [page, done, finished](const QString& error) {
    if (std::exchange(*finished, true)) return;
    page->deleteLater();
    diagnostic(error.isEmpty() ? "report printed" : "report not printed: " + error);
    done(error);
  };
  QObject::connect(limit, &QTimer::timeout, page, [finish] { finish("Printing the report took too long."); });
  QObject::connect(page, &QWebEnginePage::loadFinished, page, [page, pdf, finish](bool ok) {
    if (!ok) {
      finish("The report could not be loaded for printing.");
      return;
    }
    // The report's own page rule sets the margins; the layout only fixes the paper.
    page->printToPdf([pdf, finish](const QByteArray& data) { finish(Write(pdf, data)); },
                     QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
  });
  limit->start(kPrintLimitMs);
  page->load(report);
}

// Asks where the PDF goes, then hands `make` the PDF's path and a private
// temporary folder, removed with everything in it once the report is printed.
void WithPdfPath(const std::string& suggested_name, const JsonReply& reply,
                 const std::function<void(const QString& pdf, const std::shared_ptr<QTemporaryDir>& folder)>& make) {
  PickPath(PathPick::SaveFile, report_dialog(suggested_name), [reply, make](const QString& chosen) {
    if (chosen.isEmpty()) {
      reply(kCancelled);
      return;
    }
    auto folder = std::make_shared<QTemporaryDir>();
    if (!folder->isValid()) {
      reply(site_error("No temporary folder for the report: " + folder->errorString().toStdString()));
      return;
    }
    make(QString::fromStdString(pdf_path(chosen.toStdString())), folder);
  });
}

// Lets varnu-site write the report's HTML (`arguments` lack only the --html
// option) into `folder` and prints it to `pdf`.
void MakeReport(const std::vector<std::string>& arguments, const QString& pdf,
                const std::shared_ptr<QTemporaryDir>& folder, const JsonReply& reply) {
  const QString html = folder->filePath("report.html");
  std::vector<std::string> with_html = arguments;
  with_html.insert(with_html.begin() + 1, "--html=" + html.toStdString());
  RunQuietly(SiteToolPath(), with_html, kReportLimitMs, [folder, html, pdf, reply](const QuietRun& run) {
    // A report that names a gateway without a backup still ends with its document written.
    if (!QFileInfo(html).isFile() || (run.exit_code != 0 && run.exit_code != 1)) {
      const QByteArray answer = site_answer(run, kReportLimitMs);
      reply(QJsonDocument::fromJson(answer).object().contains("error") ? answer
                                                                        : site_error("varnu-site wrote no report."));
      return;
    }
    PrintReport(html, pdf, [folder, pdf, reply](const QString& error) {
      reply(error.isEmpty() ? QJsonDocument(QJsonObject{{"path", pdf}}).toJson(QJsonDocument::Compact)
                            : site_error(error.toStdString()));
    });
  });
}

void Report(const std::string& suggested_name, const std::vector<std::string>& arguments, const JsonReply& reply) {
  WithPdfPath(suggested_name, reply, [arguments, reply](const QString& pdf, const std::shared_ptr<QTemporaryDir>& folder) {
    MakeReport(arguments, pdf, folder, reply);
  });
}

}  // namespace

void SiteReport(const QString& site, const QString& names, const JsonReply& reply) {
  const std::optional<std::vector<std::string>> chosen = report_names(names.isEmpty() ? "[]" : names.toStdString());
  if (site.isEmpty() || !chosen) {
    reply(site_error(site.isEmpty() ? "No site file was given." : "The gateways must be a JSON array of names."));
    return;
  }
  const QString path = QFileInfo(site).absoluteFilePath();
  Report(chosen->size() == 1 ? chosen->front() : QFileInfo(path).completeBaseName().toStdString(),
         site_arguments("report", path.toStdString(), *chosen), reply);
}

void BackupReport(const QString& backup, const JsonReply& reply) {
  const auto report = [reply](const QString& chosen) {
    if (chosen.isEmpty()) {
      reply(kCancelled);
      return;
    }
    Report(QFileInfo(chosen).completeBaseName().toStdString(), {"report", "--backup=" + chosen.toStdString()}, reply);
  };
  if (backup.isEmpty()) {
    PickPath(PathPick::OpenFile, report_backup_dialog(), report);
  } else {
    report(backup);
  }
}


void GatewayReport(const QString& address, const JsonReply& reply) {
  if (address.isEmpty()) {
    reply(site_error("Enter the gateway address."));
    return;
  }
  WithPdfPath(address.toStdString(), reply, [address, reply](const QString& pdf,
                                                             const std::shared_ptr<QTemporaryDir>& folder) {
    // The gateway's configuration as it is now, in a backup of its own that goes with the folder.
    const QString saved = folder->filePath("backup");
    if (!QDir().mkdir(saved)) {
      reply(site_error("No temporary folder for the gateway's configuration."));
      return;
    }
    RunQuietly({"--action=get_backup", "--ip=" + address.toStdString(), "--backupfileouttype=zip",
                "--backupfileout=" + saved.toStdString()},
               kLiveBackupLimitMs, [folder, saved, pdf, reply](const QuietRun& run) {
                 const QStringList archives = QDir(saved).entryList({"*.zip"}, QDir::Files);
                 // Only a complete configuration makes a report: a partial one would hand over less than there is.
                 if (run.exit_code != 0 || archives.size() != 1) {
                   const std::string why = !run.start_error.empty() ? "varnu-cli could not be started: " + run.start_error
                                           : run.timed_out ? "the backup took longer than 10 min"
                                                           : "varnu-cli ended with exit status " +
                                                                 std::to_string(run.exit_code);
                   reply(site_error("No report was made: the gateway's configuration could not be read completely (" +
                                    why + "). Back the gateway up to see what is missing."));
                   return;
                 }
                 MakeReport({"report", "--backup=" + QDir(saved).filePath(archives.front()).toStdString()}, pdf,
                            folder, reply);
               });
  });
}
