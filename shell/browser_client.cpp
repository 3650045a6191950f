#include "browser_client.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QWebEngineLoadingInfo>

#include <algorithm>

#include "console_window.h"
#include "diagnostics.h"
#include "origin_rule.h"
#include "page_text.h"
#include "platform.h"
#include "shell_pages.h"
#include "views.h"

namespace {

bool same_origin(const QUrl& a, const QUrl& b) {
  return a.scheme() == b.scheme() && a.host() == b.host() && a.port(-1) == b.port(-1);
}

}  // namespace

ShellPage::ShellPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

bool ShellPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool is_main_frame) {
  // The shell's own loads (start page, error pages), reloads, history and server redirects go ahead;
  // so does the first page of a new window, which has no origin yet.
  if (!is_main_frame || type == NavigationTypeTyped || type == NavigationTypeReload ||
      type == NavigationTypeBackForward || type == NavigationTypeRedirect || this->url().isEmpty() ||
      same_origin(url, this->url()))
    return true;
  if (url.scheme() == "http" || url.scheme() == "https") {
    diagnostic("system browser " + url.toString());
    shell_platform::open_in_system_browser(url.toString().toStdString());
  }
  return false;
}

Browser::Browser(BrowserClient* client, QWebEngineProfile* profile) : client_(client) {
  auto* page = new ShellPage(profile, this);
  setPage(page);
  connect(page, &QWebEnginePage::titleChanged, this, [this](const QString& title) { client_->OnTitleChange(this, title); });
  connect(page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
    // An HTTP error status is a response like any other: the server's page shows.
    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
        info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain)
      client_->OnLoadError(this, info.errorCode(), info.errorString(), info.url());
  });
  connect(page, &QWebEnginePage::windowCloseRequested, this, [this] {
    close_allowed_ = true;
    window()->close();
  });
}

Browser::~Browser() {
  // The page goes after this object and may still report a stopped load; nobody is left to hear it.
  page()->disconnect(this);
  client_->OnBeforeClose(this);
}

bool Browser::TryCloseBrowser() {
  if (close_allowed_) return true;
  if (ConsoleWindow::ConfirmStopAll(window())) page()->triggerAction(QWebEnginePage::RequestClose);
  return false;
}

QWebEngineView* Browser::createWindow(QWebEnginePage::WebWindowType) { return client_->CreatePopup(this); }

void Browser::contextMenuEvent(QContextMenuEvent* event) {
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (QWebEnginePage::WebAction action : {QWebEnginePage::Copy, QWebEnginePage::Paste, QWebEnginePage::SelectAll})
    menu->addAction(page()->action(action));
  menu->popup(event->globalPos());
}

void Browser::closeEvent(QCloseEvent* event) {
  if (!isWindow() || TryCloseBrowser()) {
    event->accept();
  } else {
    event->ignore();
  }
}

BrowserClient::BrowserClient(bool use_views, QWebEngineProfile* profile) : use_views_(use_views), profile_(profile) {}

Browser* BrowserClient::NewBrowser() {
  auto* browser = new Browser(this, profile_);
  OnAfterCreated(browser);
  if (!use_views_) {
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->setWindowTitle("varnkit");
    browser->resize(790, 700);
    browser->show();
  }
  return browser;
}

Browser* BrowserClient::CreateBrowser(const QUrl& url) {
  Browser* browser = NewBrowser();
  if (use_views_) new ShellWindowDelegate(browser);
  browser->setUrl(url);
  return browser;
}

Browser* BrowserClient::CreatePopup(Browser* opener) {
  Browser* popup = NewBrowser();
  if (use_views_) ShellBrowserViewDelegate::OnPopupBrowserViewCreated(opener, popup);
  return popup;
}

void BrowserClient::OnTitleChange(Browser* browser, const QString& title) { browser->window()->setWindowTitle(title); }

void BrowserClient::OnAfterCreated(Browser* browser) { browsers_.push_back(browser); }

void BrowserClient::OnBeforeClose(Browser* browser) {
  const auto found = std::find(browsers_.begin(), browsers_.end(), browser);
  if (found != browsers_.end()) browsers_.erase(found);
  // exit(), unlike quit(), does not ask the remaining windows to close: every run was settled
  // when the windows were closed, and what is left goes with the program.
  if (browsers_.empty()) QCoreApplication::exit(0);
}

void BrowserClient::OnLoadError(Browser* browser, int error_code, const QString& error_text, const QUrl& failed_url) {
  if (error_code == kErrAborted) return;
  // An error page that failed in turn would only make a longer one that fails again.
  if (failed_url.scheme() == kShellPageScheme) return;
  // Qt reports failures of the main frame only, so the error page replaces the whole page.
  browser->setUrl(LoadErrorPageUrl(failed_url, error_text, error_code));
}
