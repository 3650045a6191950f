#include "browser/web_page.h"

#include <QDesktopServices>
#include <QProcess>
#include <QWebEngineSettings>
#include <QWebEngineNewWindowRequest>

#include <utility>

#include "app/diagnostics.h"
#include "browser/origin_rule.h"

namespace {

// Hands `url` to the desktop's web browser: the program VARNKIT_SYSTEM_BROWSER names (tests), else the desktop's choice.
void OpenInSystemBrowser(const QUrl& url) {
  const QString chosen = qEnvironmentVariable("VARNKIT_SYSTEM_BROWSER");
  if (chosen.isEmpty()) {
    QDesktopServices::openUrl(url);
  } else {
    QProcess::startDetached(chosen, {url.toString()});
  }
}

}  // namespace

WebPage::WebPage(QWebEngineProfile* profile, const std::string& opener_origin, QObject* parent)
    : QWebEnginePage(profile, parent), opener_origin_(opener_origin) {
  // A new window's page may be sent to another scheme before its first navigation reaches the rule.
  if (!opener_origin_.empty()) settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
  // A new window's address is known before the window exists: one the rule refuses gets no window.
  connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
    const QUrl target = request.requestedUrl();
    new_window_allowed_ = target.isEmpty() || target == QUrl("about:blank") ||
                          Allowed(target, url().isEmpty() ? opener_origin_ : origin_of(url()), false);
  });
}

bool WebPage::TakeNewWindowAllowed() { return std::exchange(new_window_allowed_, true); }

bool WebPage::Allowed(const QUrl& url, const std::string& from, bool shells_own) {
  switch (navigation_rule(url, from, shells_own)) {
    case Navigation::Allow: return true;
    case Navigation::SystemBrowser:
      diagnostic("system browser " + url.toString());
      OpenInSystemBrowser(url);
      break;
    case Navigation::Drop: diagnostic("dropped " + url.toString()); break;
  }
  return false;
}

bool WebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool is_main_frame) {
  // Frames stay inside the page, where the runtime keeps them to their own origins; a scheme
  // the runtime does not show itself would go to the desktop, from a frame as from the page.
  if (!is_main_frame && loads_in_page(url)) return true;
  if (!is_main_frame) {
    diagnostic("dropped " + url.toString());
    return false;
  }
  const bool first = this->url().isEmpty();
  const bool shells_own = type == NavigationTypeTyped || type == NavigationTypeReload ||
                          type == NavigationTypeBackForward || type == NavigationTypeRedirect;
  if (Allowed(url, first ? opener_origin_ : origin_of(this->url()), shells_own)) {
    settings()->resetUnknownUrlSchemePolicy();
    return true;
  }
  if (first) emit firstNavigationRefused();
  return false;
}
