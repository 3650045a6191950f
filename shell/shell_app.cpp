#include "shell_app.h"

#include <QCoreApplication>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include "diagnostics.h"
#include "native_action_handler.h"
#include "origin_rule.h"
#include "shell_pages.h"
#include "switches.h"

ShellApp::ShellApp(const std::optional<RuntimeFolders>& folders, ServerIdentity server)
    : server_(server), profile_(std::make_unique<QWebEngineProfile>("varnkit")) {
  if (folders) {
    profile_->setCachePath(QString::fromStdString(folders->cache));
    profile_->setPersistentStoragePath(QString::fromStdString(folders->user_data));
  }
  // Failed loads show the shell's own error page instead.
  profile_->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  // A dropped link or file would replace the page with whatever it names.
  profile_->settings()->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
}

// Every browser has closed by now; the profile must outlive their pages.
ShellApp::~ShellApp() = default;

void ShellApp::OnContextInitialized() {
  std::vector<std::string> arguments;
  for (const QString& argument : QCoreApplication::arguments().mid(1)) arguments.push_back(argument.toStdString());
  const ShellSwitches switches = parse_switches(arguments);
  client_ = std::make_unique<BrowserClient>(switches.use_views, profile_.get());
  // A bare "host:port/path" gets its scheme, as in an address bar.
  QUrl url = QUrl::fromUserInput(QString::fromStdString(start_url(switches)));
  const QString origin = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                                      QUrl::RemoveFragment).toString();
  if (server_ == ServerIdentity::Foreign && is_kit_origin(origin.toStdString())) {
    diagnostic("port taken");
    url = PortTakenPageUrl();
  }
  client_->CreateBrowser(url);
}

void ShellApp::OnContextCreated() {
  const bool verified = server_ == ServerIdentity::Ours;
  profile_->installUrlSchemeHandler(kNativeScheme, new NativeActionHandler(profile_.get(), verified));
  profile_->installUrlSchemeHandler(kShellPageScheme, new ShellPageHandler(profile_.get()));
  QWebEngineScript script;
  script.setName("varnkit-native-interface");
  script.setSourceCode(NativeBridgeScript(verified));
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(true);
  profile_->scripts()->insert(script);
}
