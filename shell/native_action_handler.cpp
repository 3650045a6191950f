#include "native_action_handler.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "confirmation.h"
#include "console_window.h"
#include "diagnostics.h"
#include "gateway_status.h"
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

QString DialogSettingsPath() {
  return QString::fromStdString(state_folder(shell_platform::user_state_home()) + "dialogs.ini");
}

QString ConsoleTool() {
  return QString::fromStdString(console_tool_path(executable_folder(shell_platform::executable_path())));
}

// Asks before writing; `proceed` runs only when the user agreed.
void Confirm(NativeAction action, const std::string& gateway, const std::string& path,
             const NativeActionHandler::Reply& reply, const std::function<void()>& proceed) {
  QueryGatewayStatus(gateway, [=](const GatewayStatus& status) {
    const Confirmation confirmation =
        action == NativeAction::Restore
            ? restore_confirmation(path, read_backup_origin(path), gateway, status)
            : upgrade_confirmation(path, read_package_info(path), gateway, status);
    const QString text = QString::fromStdString(confirmation.text);
    // One line per event, whatever the text holds.
    const QString quoted = QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact));
    if (confirmation.refused) {
      diagnostic("refused " + quoted);
      auto* box = new QMessageBox(QMessageBox::Critical, "Firmware for another model", text, QMessageBox::Ok);
      box->setAttribute(Qt::WA_DeleteOnClose);
      QObject::connect(box, &QMessageBox::finished, box, [reply] { reply(kResultRefused); });
      box->show();
      return;
    }
    diagnostic("confirm " + quoted);
    const bool restore = action == NativeAction::Restore;
    auto* box = new QMessageBox(confirmation.warned ? QMessageBox::Warning : QMessageBox::Question,
                                restore ? "Restore the gateway?" : "Upgrade the gateway?", text, QMessageBox::NoButton);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* go = box->addButton(restore ? "&Restore" : "&Upgrade", QMessageBox::AcceptRole);
    QPushButton* cancel = box->addButton("&Cancel", QMessageBox::RejectRole);
    // Writing over a gateway is never the answer to a stray Enter.
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::finished, box, [box, go, reply, proceed] {
      const bool agreed = box->clickedButton() == go;
      diagnostic(agreed ? "answer go" : "answer cancel");
      if (agreed) {
        proceed();
      } else {
        reply(kResultDeclined);
      }
    });
    box->show();
  });
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
  const std::optional<ChannelChoice> choice =
      channel_choice(query.queryItemValue("channel", QUrl::FullyDecoded).toStdString(),
                     query.queryItemValue("kind", QUrl::FullyDecoded).toStdString());
  // The page may be gone by the time the tool ends; the result is dropped then.
  QPointer<QWebEngineUrlRequestJob> pending(job);
  const Reply reply = [pending](int result) {
    if (!pending) return;
    auto* body = new QBuffer(pending);
    body->setData(QByteArray::number(result));
    body->open(QIODevice::ReadOnly);
    pending->reply("text/plain", body);
  };
  const auto reply_json = [pending](const std::string& json) {
    if (!pending) return;
    auto* body = new QBuffer(pending);
    body->setData(QByteArray::fromStdString(json));
    body->open(QIODevice::ReadOnly);
    pending->reply("application/json", body);
  };
  if (job->requestMethod() == "GET" && url.path() == "native_gatewayStatus") {
    QueryGatewayStatus(address.value_or(QString()).toStdString(),
                       [reply_json](const GatewayStatus& status) { reply_json(status_json(status)); });
    return;
  }
  if (job->requestMethod() == "GET" && url.path() == "native_lastRun") {
    const RunRecord& run = ConsoleWindow::LastRun();
    reply_json("{\"log\":" + json_quoted(run.log.toStdString()) + ",\"archive\":" +
               json_quoted(run.archive.toStdString()) + "}");
    return;
  }
  if (job->requestMethod() == "GET" && url.path() == "native_runProgress") {
    reply_json(json_quoted(ConsoleWindow::CurrentProgress().toStdString()));
    return;
  }
  if (job->requestMethod() == "GET" && url.path() == "native_showLog") {
    reply(ShowLog(query.queryItemValue("name", QUrl::FullyDecoded)) ? 0 : kResultNotRun);
    return;
  }
  if (job->requestMethod() != "GET" || !Execute(url.path(), address, choice, reply))
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
}

bool NativeActionHandler::Execute(const QString& name, const std::optional<QString>& address,
                                  const std::optional<ChannelChoice>& choice, const Reply& reply) {
  const QString tool = ConsoleTool();
  const std::optional<NativeAction> action = native_action_by_name(name.toStdString());
  if (!action) return false;
  if (!address || (*action == NativeAction::SetupChannel && !choice)) {
    ShowNotice(kMissingArguments, [reply] { reply(kResultNotRun); });
    return true;
  }
  if (address->isEmpty()) {
    reply(kResultNotRun);
    return true;
  }
  const std::string gateway = address->toStdString();
  const ChannelChoice setup = choice.value_or(ChannelChoice{});
  PickPath(picks_folder(*action), path_dialog(*action, gateway, setup), [=](const QString& path) {
    if (path.isEmpty()) {
      ShowNotice(kNoFolderSelected, [reply] { reply(kResultNotRun); });
      return;
    }
    const auto run = [=] {
      ConsoleWindow::Run(tool, to_qt(tool_arguments(*action, gateway, path.toStdString(), setup)), *action, gateway,
                         reply);
    };
    if (*action == NativeAction::Backup || *action == NativeAction::SetupChannel) {
      run();
    } else {
      Confirm(*action, gateway, path.toStdString(), reply, run);
    }
  });
  return true;
}

void PickPath(bool pick_folders, const PathDialog& look, const std::function<void(const QString&)>& done) {
  diagnostic(pick_folders ? "dialog folder" : "dialog file");
  const QString kind = QString::fromStdString(look.kind);
  QSettings settings(DialogSettingsPath(), QSettings::IniFormat);
  auto* dialog = new QFileDialog(QApplication::activeWindow(), QString::fromStdString(look.title),
                                 settings.value("last-folder/" + kind, QDir::homePath()).toString());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(pick_folders ? QFileDialog::Directory : QFileDialog::ExistingFile);
  if (pick_folders) dialog->setOption(QFileDialog::ShowDirsOnly);
  if (!look.filters.empty()) dialog->setNameFilters(to_qt(look.filters));
  QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done, kind, pick_folders](int result) {
    const QStringList chosen = dialog->selectedFiles();
    const QString path = result == QDialog::Accepted && !chosen.isEmpty() ? chosen.first() : QString();
    if (!path.isEmpty())
      QSettings(DialogSettingsPath(), QSettings::IniFormat).setValue("last-folder/" + kind, pick_folders ? path : QFileInfo(path).absolutePath());
    done(path);
  });
  dialog->open();
}

bool ShowLog(const QString& name) {
  QFile file(ConsoleWindow::LogFolder() + name);
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

void QueryGatewayStatus(const std::string& address, const std::function<void(const GatewayStatus&)>& done) {
  diagnostic("status " + QString::fromStdString(address));
  if (address.empty()) {
    done(GatewayStatus{{}, "Enter the gateway address."});
    return;
  }
  // No console window: the card shows the answer. The process and timer die with the query.
  auto* process = new QProcess;
  auto* limit = new QTimer(process);
  limit->setSingleShot(true);
  auto finish = [process, done](const GatewayStatus& status) {
    process->disconnect();
    process->deleteLater();
    done(status);
  };
  QObject::connect(limit, &QTimer::timeout, process, [process, address, finish] {
    process->kill();
    finish(status_timed_out(address));
  });
  QObject::connect(process, &QProcess::finished, process, [process, address, finish](int exit_code, QProcess::ExitStatus how) {
    finish(read_status_output(process->readAllStandardOutput().toStdString(),
                              process->readAllStandardError().toStdString(),
                              how == QProcess::NormalExit ? exit_code : -1, address));
  });
  QObject::connect(process, &QProcess::errorOccurred, process, [process, finish](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart)
      finish(GatewayStatus{{}, "varnu-cli could not be started: " + process->errorString().toStdString()});
  });
  process->setStandardInputFile(QProcess::nullDevice());
  limit->start(kStatusQueryLimitMs);
  process->start(ConsoleTool(), to_qt(status_arguments(address)));
}
