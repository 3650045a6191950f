// The page of a window: every navigation of its main frame passes the origin
// rule, a new window's first one too, measured against its opener's origin.
#pragma once

#include <QWebEnginePage>

#include <string>

class WebPage : public QWebEnginePage {
  Q_OBJECT

 public:
  // `opener_origin`: for a window that a page opened, that page's origin; empty otherwise.
  WebPage(QWebEngineProfile* profile, const std::string& opener_origin, QObject* parent);

 signals:
  // A new window's first navigation was refused: the window has nothing to show.
  void firstNavigationRefused();

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool is_main_frame) override;

 private:
  const std::string opener_origin_;
};
