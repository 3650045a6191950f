#include "bridge/report_printer.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QSaveFile>
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

namespace {

// A report is one local file: a long one loads and prints in seconds.
constexpr int kPrintLimitMs = 120000;

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

}  // namespace

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
    page->printToPdf([pdf, finish](const QByteArray& data) { finish(Write(pdf, data)); }, QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
  });
  limit->start(kPrintLimitMs);
  page->load(report);
}
