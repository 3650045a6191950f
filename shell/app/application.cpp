#include "app/application.h"

#include <QCoreApplication>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

#include "app/diagnostics.h"
#include "app/switches.h"
#include "bridge/native_scheme_handler.h"
#include "browser/main_window.h"
#include "browser/origin_rule.h"
#include "browser/shell_page_handler.h"
#include "browser/web_page.h"
#include "server/server_process.h"

namespace {

// Before every document of the kit's origin loads, the server proves itself again.
class RecheckBeforeKitDocuments : public QWebEngineUrlRequestInterceptor {
 public:
  explicit RecheckBeforeKitDocuments(ServerProcess* server) : server_(server) {}

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const bool document = info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame ||
                          info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeSubFrame;
    if (document && is_kit_origin(origin_of(info.requestUrl()))) server_->recheck();
  }

 private:
  ServerProcess* server_;
};

}  // namespace

Application::Application(const std::optional<RuntimeFolders>& folders, QSize window_size)
    : profile_(std::make_unique<QWebEngineProfile>("varnkit")),
      native_(new NativeSchemeHandler(profile_.get())),
      server_(new ServerProcess(QCoreApplication::applicationDirPath() + "/http/" + kServerName,
                                QCoreApplication::applicationDirPath() + "/http", this)),
      window_size_(window_size) {
  if (folders) {
    profile_->setCachePath(QString::fromStdString(folders->cache));
    profile_->setPersistentStoragePath(QString::fromStdString(folders->user_data));
  }
  // Failed loads show the shell's own error page instead.
  profile_->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  // A dropped link or file would replace the page with whatever it names.
  profile_->settings()->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
  // Addresses of other schemes (mailto:, ssh:, made-up ones), with or without a click, come to the
  // pages' origin rule, which drops them (WebPage).
  profile_->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);
  profile_->installUrlSchemeHandler(kNativeScheme, native_);
  profile_->installUrlSchemeHandler(kShellPageScheme, new ShellPageHandler(profile_.get()));
  recheck_ = std::make_unique<RecheckBeforeKitDocuments>(server_);
  profile_->setUrlRequestInterceptor(recheck_.get());
  // Qt runs the bridge in every new script context: every frame of every page, again on each navigation.
  bridge_.setName("varnkit-native-interface");
  bridge_.setInjectionPoint(QWebEngineScript::DocumentCreation);
  bridge_.setWorldId(QWebEngineScript::MainWorld);
  bridge_.setRunsOnSubFrames(true);
  OnTrustChanged();
  connect(server_, &ServerProcess::trustChanged, this, &Application::OnTrustChanged);
}

Application::~Application() {
  profile_->setUrlRequestInterceptor(nullptr);
  delete server_;
}

void Application::Start(const QUrl& url) {
  start_url_ = kit_address(url);
  connect(server_, &ServerProcess::settled, this, [this] { OpenWindow(start_url_); });
  server_->start();
}

void Application::OnHandedOver(const QString& url) {
  diagnostic("handed over " + (url.isEmpty() ? QString("no address") : url));
  if (!url.isEmpty()) {
    OpenWindow(kit_address(QUrl::fromUserInput(url)));
    return;
  }
  const QList<QPointer<MainWindow>> windows = MainWindow::Windows();
  if (windows.isEmpty()) return;
  windows.last()->raise();
  windows.last()->activateWindow();
}

void Application::OpenWindow(const QUrl& url) {
  auto* window = new MainWindow(profile_.get(), window_size_);
  if (server_->state() == ServerProcess::State::PortTaken && is_kit_origin(origin_of(url))) {
    diagnostic("port taken");
    window->Load(PortTakenPageUrl());
  } else {
    window->Load(url);
  }
  window->raise();
  window->activateWindow();
}

void Application::OnTrustChanged() {
  native_->SetKitServerProved(server_->proved());
  profile_->scripts()->remove(bridge_);
  bridge_.setSourceCode(native_->BridgeScript());
  profile_->scripts()->insert(bridge_);
  if (!server_->proved()) return;
  if (!std::exchange(proved_before_, true)) return;
  // A new server: what the windows show of the kit's origin was loaded without it, or under the old key.
  diagnostic("server proved again");
  for (const QPointer<MainWindow>& window : MainWindow::Windows()) {
    const QUrl shown = window->page()->url();
    if (is_kit_origin(origin_of(shown))) {
      window->page()->triggerAction(QWebEnginePage::Reload);
    } else if (shown == PortTakenPageUrl()) {
      window->Load(start_url_);
    }
  }
}
