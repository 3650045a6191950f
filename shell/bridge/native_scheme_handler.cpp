#include "bridge/native_scheme_handler.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "app/diagnostics.h"
#include "bridge/action_flow.h"
#include "bridge/readers.h"
#include "bridge/site_bridge.h"
#include "browser/origin_rule.h"
#include "runs/console_window.h"
#include "runs/run_log.h"
#include "server/identity.h"
#include "varnkit_config.h"

namespace {

constexpr int kKeyBytes = 16;

QByteArray compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

}  // namespace

void RegisterNativeScheme() {
  QWebEngineUrlScheme scheme(kNativeScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  // The handler decides which origins may call; their content security policy does not.
  scheme.setFlags(QWebEngineUrlScheme::CorsEnabled | QWebEngineUrlScheme::SecureScheme |
                  QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
  QWebEngineUrlScheme::registerScheme(scheme);
}

NativeSchemeHandler::NativeSchemeHandler(QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), shell_page_key_(random_hex(kKeyBytes)) {}

void NativeSchemeHandler::SetKitServerProved(bool proved) {
  kit_server_proved_ = proved;
  kit_key_ = proved ? random_hex(kKeyBytes) : QByteArray();
}

QString NativeSchemeHandler::BridgeScript() const {
  QJsonObject keys;
  for (const std::string& origin : native_origins(kit_server_proved_))
    keys.insert(QString::fromStdString(origin),
                QString::fromLatin1(is_kit_origin(origin) ? kit_key_ : shell_page_key_));
  QFile file(":/shell/bridge.js");
  file.open(QIODevice::ReadOnly);
  return QString::fromUtf8(file.readAll())
      .replace("@APP_VERSION@", VARNKIT_VERSION)
      .replace("@SCHEME@", kNativeScheme)
      .replace("@KEYS@", QString::fromUtf8(compact(keys)));
}

void NativeSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  const QString origin = job->initiator().toString();
  const QUrl url = job->requestUrl();
  const QUrlQuery query(url);
  const QByteArray key = query.queryItemValue("key").toLatin1();
  const bool allowed = may_use_native(origin.toStdString(), kit_server_proved_) && !key.isEmpty() &&
                       key == (is_kit_origin(origin.toStdString()) ? kit_key_ : shell_page_key_);
  if (!allowed) {
    diagnostic("refused native request from " + (origin.isEmpty() ? QString("an unknown origin") : origin));
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
    return;
  }
  if (job->requestMethod() != "GET") {
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  const auto item = [&query](const char* name) { return query.queryItemValue(name, QUrl::FullyDecoded); };
  // The page may be gone by the time the tool ends; the answer is dropped then.
  QPointer<QWebEngineUrlRequestJob> pending(job);
  const auto answer = [pending](const char* type, const QByteArray& data) {
    if (!pending) return;
    auto* body = new QBuffer(pending);
    body->setData(data);
    body->open(QIODevice::ReadOnly);
    pending->reply(type, body);
  };
  const auto reply = [answer](int result) { answer("text/plain", QByteArray::number(result)); };
  const JsonReply reply_json = [answer](const QByteArray& json) { answer("application/json", json); };
  const QString name = url.path();
  if (name == "native_gatewayStatus") {
    QueryGatewayStatus(item("ip").toStdString(),
                       [reply_json](const GatewayStatus& status) { reply_json(compact(status_json(status))); });
  } else if (name == "native_showBackup") {
    ShowBackup(item("path"), reply_json);
  } else if (name == "native_compareBackups") {
    CompareBackups(item("old"), item("new"), reply_json);
  } else if (name == "native_lastRun") {
    reply_json(compact(ConsoleWindow::LastRun()));
  } else if (name == "native_runProgress") {
    reply_json(compact({{"progress", ConsoleWindow::CurrentProgress()}, {"running", ConsoleWindow::AnyRunning()}}));
  } else if (name == "native_showLog") {
    reply(ShowLog(item("name")) ? 0 : kResultNotRun);
  } else if (IsSiteFunction(name)) {
    HandleSiteFunction(name, item, reply_json, reply);
  } else if (const std::optional<NativeAction> action = native_action_by_name(name.toStdString())) {
    std::optional<QString> address;
    if (query.hasQueryItem("ip")) address = item("ip");
    RunAction(*action, address, channel_choice(item("channel").toStdString(), item("kind").toStdString()), reply);
  } else {
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
  }
}
