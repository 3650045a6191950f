#include "browser/web_page.h"

#include <QDesktopServices>
#include <QProcess>

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
    : QWebEnginePage(profile, parent), opener_origin_(opener_origin) {}

bool WebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool is_main_frame) {
  // Frames stay inside the page; the runtime keeps them to their own origins.
  if (!is_main_frame) return true;
  const bool first = this->url().isEmpty();
  const bool shells_own = type == NavigationTypeTyped || type == NavigationTypeReload ||
                          type == NavigationTypeBackForward || type == NavigationTypeRedirect;
  switch (navigation_rule(url, first ? opener_origin_ : origin_of(this->url()), shells_own)) {
    case Navigation::Allow: return true;
    case Navigation::SystemBrowser:
      diagnostic("system browser " + url.toString());
      OpenInSystemBrowser(url);
      break;
    case Navigation::Drop: diagnostic("dropped " + url.toString()); break;
  }
  if (first) emit firstNavigationRefused();
  return false;
}
