// The shell's own pages, served under the private page scheme (browser/origin_rule.h):
// the load-error page and the page that says another program holds the server port.
#pragma once

#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

// Must run before the QApplication exists.
void RegisterShellPageScheme();

// The load-error page for a failed navigation.
QUrl LoadErrorPageUrl(const QUrl& failed_url, const QString& error_text, int error_code);

// The page shown instead of the kit's server when another program holds its port.
QUrl PortTakenPageUrl();

class ShellPageHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT

 public:
  explicit ShellPageHandler(QObject* parent);
  void requestStarted(QWebEngineUrlRequestJob* job) override;
};
