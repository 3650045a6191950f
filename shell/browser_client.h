// The browsers of the shell and the one client that tracks them: window titles,
// the load-error page, pop-ups, and the end of the program when the last one closes.
#pragma once

#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <vector>

class BrowserClient;
class QWebEngineProfile;

// A page that keeps its main frame on its own origin: links and scripts that would
// take it to another origin hand that address to the system browser instead.
class ShellPage : public QWebEnginePage {
  Q_OBJECT

 public:
  ShellPage(QWebEngineProfile* profile, QObject* parent);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool is_main_frame) override;
};

// One browser: a page in its view. Without views it is itself the top-level
// window; with views it is the browser view hosted by a ShellWindowDelegate.
class Browser : public QWebEngineView {
  Q_OBJECT

 public:
  Browser(BrowserClient* client, QWebEngineProfile* profile);
  ~Browser() override;

  // True once the page agreed to close (its unload handlers ran); before that,
  // asks the user whether running tools may be stopped, then the page, and
  // returns false. The page's answer closes the window again.
  bool TryCloseBrowser();

 protected:
  QWebEngineView* createWindow(QWebEnginePage::WebWindowType type) override;
  void closeEvent(QCloseEvent* event) override;
  // Only what a page's user needs: copy, paste, select all.
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  BrowserClient* client_;
  bool close_allowed_ = false;
};

class BrowserClient {
 public:
  BrowserClient(bool use_views, QWebEngineProfile* profile);
  BrowserClient(const BrowserClient&) = delete;
  BrowserClient& operator=(const BrowserClient&) = delete;

  // A new browser served by this client, in a top-level window of the client's kind.
  Browser* CreateBrowser(const QUrl& url);
  // A browser that a page asked for; its page is loaded by the runtime.
  Browser* CreatePopup(Browser* opener);

  void OnTitleChange(Browser* browser, const QString& title);
  void OnAfterCreated(Browser* browser);
  // Ends the message loop when the closing browser was the last one.
  void OnBeforeClose(Browser* browser);
  void OnLoadError(Browser* browser, int error_code, const QString& error_text, const QUrl& failed_url);

 private:
  Browser* NewBrowser();

  const bool use_views_;
  QWebEngineProfile* profile_;
  std::vector<Browser*> browsers_;  // in creation order, pop-ups included
};
