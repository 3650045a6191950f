#include "browser/shell_page_handler.h"

#include <QBuffer>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "browser/origin_rule.h"
#include "browser/page_text.h"
#include "app/paths.h"

namespace {

QUrl page_url(const char* page) {
  QUrl url;
  url.setScheme(kShellPageScheme);
  url.setHost(page);
  url.setPath("/");
  return url;
}

}  // namespace

void RegisterShellPageScheme() {
  QWebEngineUrlScheme scheme(kShellPageScheme);
  // A host per page gives each page an origin of its own.
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
  // Local: no web page can load or frame these pages; only the shell navigates to them.
  scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::SecureScheme);
  QWebEngineUrlScheme::registerScheme(scheme);
}

QUrl LoadErrorPageUrl(const QUrl& failed_url, const QString& error_text, int error_code) {
  QUrl url = page_url(kLoadErrorPage);
  QUrlQuery query;
  query.addQueryItem("url", QString::fromUtf8(QUrl::toPercentEncoding(failed_url.toString())));
  query.addQueryItem("error", QString::fromUtf8(QUrl::toPercentEncoding(error_text)));
  query.addQueryItem("code", QString::number(error_code));
  url.setQuery(query);
  return url;
}

QUrl PortTakenPageUrl() { return page_url(kPortTakenPage); }

ShellPageHandler::ShellPageHandler(QObject* parent) : QWebEngineUrlSchemeHandler(parent) {}

void ShellPageHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  const QUrl url = job->requestUrl();
  std::string page;
  if (url.host() == kLoadErrorPage) {
    const QUrlQuery query(url);
    const auto item = [&query](const char* name) {
      return QUrl::fromPercentEncoding(query.queryItemValue(name, QUrl::FullyEncoded).toUtf8()).toStdString();
    };
    page = load_error_page(item("url"), item("error"), query.queryItemValue("code").toInt());
  } else if (url.host() == kPortTakenPage) {
    page = port_taken_page(kServerPort);
  } else {
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  auto* body = new QBuffer(job);
  body->setData(QByteArray::fromStdString(page));
  body->open(QIODevice::ReadOnly);
  job->reply("text/html", body);
}
