#include "bridge/handover_report.h"

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

// Asks where the PDF goes, lets varnu-site write the report's HTML (`arguments`
// lack only the --html option) into a private temporary folder and prints it there.
void Report(const std::string& suggested_name, const std::vector<std::string>& arguments, const JsonReply& reply) {
  PickPath(PathPick::SaveFile, report_dialog(suggested_name), [arguments, reply](const QString& chosen) {
    if (chosen.isEmpty()) {
      reply(kCancelled);
      return;
    }
    const QString pdf = QString::fromStdString(pdf_path(chosen.toStdString()));
    // Made private by QTemporaryDir; removed with everything in it once the report is printed.
    auto folder = std::make_shared<QTemporaryDir>();
    if (!folder->isValid()) {
      reply(site_error("No temporary folder for the report: " + folder->errorString().toStdString()));
      return;
    }
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

