// A window of the shell: one web view on a WebPage, titled after its page. A
// page that opens a window gets another MainWindow of the same size. The
// program ends when the last MainWindow has closed; only closing that last one
// asks about running tools, since only it ends them.
#pragma once

#include <QList>
#include <QPointer>
#include <QSize>
#include <QWebEngineView>
#include <QWidget>

#include <string>

class QWebEngineProfile;
class WebPage;

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // `opener_origin`: the origin of the page that asked for this window; empty for the shell's own windows.
  MainWindow(QWebEngineProfile* profile, QSize size, const std::string& opener_origin = {});
  ~MainWindow() override;

  // The shell's own load (start page, a second start's address, error pages).
  void Load(const QUrl& url);
  QWebEngineView* view() const { return view_; }
  WebPage* page() const { return page_; }

  // The open windows, oldest first.
  static QList<QPointer<MainWindow>> Windows();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void DropEmptyWindow();
  void OnLoadFailed(int error_code, const QString& error_text, const QUrl& failed_url);

  QWebEngineView* view_;
  WebPage* page_;
  const QSize size_;
  bool close_allowed_ = false;  // the page agreed to close (its unload handlers ran)
  bool shown_ = false;          // a page has loaded in the window
};
