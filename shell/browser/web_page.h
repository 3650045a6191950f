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

  // Whether the window the page asked for last may open: its address passed the origin rule.
  bool TakeNewWindowAllowed();

 signals:
  // A new window's first navigation was refused: the window has nothing to show.
  void firstNavigationRefused();

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool is_main_frame) override;

 private:
  // Applies the origin rule; what it refuses goes to the system browser or nowhere. True when allowed.
  bool Allowed(const QUrl& url, const std::string& from, bool shells_own);

  const std::string opener_origin_;
  bool new_window_allowed_ = true;
};
