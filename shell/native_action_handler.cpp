#include "native_action_handler.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QPointer>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "console_window.h"
#include "diagnostics.h"
#include "origin_rule.h"
#include "paths.h"
#include "platform.h"
#include "tool_command.h"

namespace {

// A notice without owner window and with one OK button; `done` runs when it is dismissed.
void ShowNotice(const QString& text, const std::function<void()>& done) {
  diagnostic(QString("notice %1: %2").arg(kNoticeCaption, text));
  auto* box = new QMessageBox(QMessageBox::NoIcon, kNoticeCaption, text, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(box, &QMessageBox::finished, box, [done] { done(); });
  box->show();
}

QStringList to_qt(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& text : texts) list << QString::fromStdString(text);
  return list;
}

}  // namespace

void RegisterNativeScheme() {
  QWebEngineUrlScheme scheme(kNativeScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  // The handler decides which origins may call; their content security policy does not.
  scheme.setFlags(QWebEngineUrlScheme::CorsEnabled | QWebEngineUrlScheme::SecureScheme |
                  QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
  QWebEngineUrlScheme::registerScheme(scheme);
}

QString NativeBridgeScript(bool kit_server_verified) {
  QJsonArray origins;
  for (const std::string& origin : native_origins(kit_server_verified)) origins.append(QString::fromStdString(origin));
  QFile file(":/shell/bridge.js");
  file.open(QIODevice::ReadOnly);
  return QString::fromUtf8(file.readAll())
      .replace("@APP_VERSION@", kAppVersion)
      .replace("@SCHEME@", kNativeScheme)
      .replace("@ORIGINS@", QString::fromUtf8(QJsonDocument(origins).toJson(QJsonDocument::Compact)));
}

NativeActionHandler::NativeActionHandler(QObject* parent, bool kit_server_verified)
    : QWebEngineUrlSchemeHandler(parent), kit_server_verified_(kit_server_verified) {}

void NativeActionHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  const QString origin = job->initiator().toString();
  if (!may_use_native(origin.toStdString(), kit_server_verified_)) {
    diagnostic("refused native request from " + (origin.isEmpty() ? QString("an unknown origin") : origin));
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
    return;
  }
  const QUrl url = job->requestUrl();
  const QUrlQuery query(url);
  std::optional<QString> address;
  if (query.hasQueryItem("ip")) address = query.queryItemValue("ip", QUrl::FullyDecoded);
  // The page may be gone by the time the tool ends; the result is dropped then.
  QPointer<QWebEngineUrlRequestJob> pending(job);
  const Reply reply = [pending](int result) {
    if (!pending) return;
    auto* body = new QBuffer(pending);
    body->setData(QByteArray::number(result));
    body->open(QIODevice::ReadOnly);
    pending->reply("text/plain", body);
  };
  if (job->requestMethod() != "GET" || !Execute(url.path(), address, reply))
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
}

bool NativeActionHandler::Execute(const QString& name, const std::optional<QString>& address, const Reply& reply) {
  const QString tool =
      QString::fromStdString(console_tool_path(executable_folder(shell_platform::executable_path())));
  const std::optional<NativeAction> action = native_action_by_name(name.toStdString());
  if (!action) return false;
  if (!address) {
    ShowNotice(kMissingArguments, [reply] { reply(kResultNotRun); });
    return true;
  }
  if (address->isEmpty()) {
    reply(kResultNotRun);
    return true;
  }
  const std::string gateway = address->toStdString();
  PickPath(picks_folder(*action), [tool, action, gateway, reply](const QString& path) {
    if (path.isEmpty()) {
      ShowNotice(kNoFolderSelected, [reply] { reply(kResultNotRun); });
      return;
    }
    ConsoleWindow::Run(tool, to_qt(tool_arguments(*action, gateway, path.toStdString())), *action, gateway, reply);
  });
  return true;
}

void PickPath(bool pick_folders, const std::function<void(const QString&)>& done) {
  diagnostic(pick_folders ? "dialog folder" : "dialog file");
  // No title, filter or start folder: the dialog's own defaults apply.
  auto* dialog = new QFileDialog(QApplication::activeWindow());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(pick_folders ? QFileDialog::Directory : QFileDialog::ExistingFile);
  if (pick_folders) dialog->setOption(QFileDialog::ShowDirsOnly);
  QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
    const QStringList chosen = dialog->selectedFiles();
    done(result == QDialog::Accepted && !chosen.isEmpty() ? chosen.first() : QString());
  });
  dialog->open();
}
