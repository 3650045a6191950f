#include "browser/main_window.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>

#include "app/diagnostics.h"
#include "browser/origin_rule.h"
#include "browser/page_text.h"
#include "browser/shell_page_handler.h"
#include "browser/web_page.h"
#include "runs/console_window.h"

namespace {

QList<QPointer<MainWindow>>& all_windows() {
  static QList<QPointer<MainWindow>> windows;
  return windows;
}

// The web view: a page's new windows become MainWindows; its context menu offers only copy, paste, select all.
class WebView : public QWebEngineView {
 public:
  WebView(QWebEngineProfile* profile, QSize size, QWidget* parent) : QWebEngineView(parent), profile_(profile), size_(size) {}

 protected:
  QWebEngineView* createWindow(QWebEnginePage::WebWindowType) override {
    if (!static_cast<WebPage*>(page())->TakeNewWindowAllowed()) return nullptr;
    auto* window = new MainWindow(profile_, size_, origin_of(url()));
    return window->view();
  }

  void contextMenuEvent(QContextMenuEvent* event) override {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QWebEnginePage::WebAction action : {QWebEnginePage::Copy, QWebEnginePage::Paste, QWebEnginePage::SelectAll})
      menu->addAction(page()->action(action));
    menu->popup(event->globalPos());
  }

 private:
  QWebEngineProfile* profile_;
  const QSize size_;
};

}  // namespace

MainWindow::MainWindow(QWebEngineProfile* profile, QSize size, const std::string& opener_origin)
    : view_(new WebView(profile, size, this)), page_(new WebPage(profile, opener_origin, view_)), size_(size) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("varnkit");
  view_->setPage(page_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  all_windows() << this;

  connect(page_, &QWebEnginePage::titleChanged, this, &QWidget::setWindowTitle);
  connect(page_, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) return;
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) {
      shown_ = true;
      return;
    }
    if (!loads_in_page(info.url())) {
      // A new window sent to another scheme: its page kept it from the desktop (WebPage).
      diagnostic("dropped " + info.url().toString());
      if (!shown_) DropEmptyWindow();
      return;
    }
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus) return;
    // An HTTP error status is a response like any other: the server's page shows.
    if (info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain)
      OnLoadFailed(info.errorCode(), info.errorString(), info.url());
  });
  connect(page_, &QWebEnginePage::windowCloseRequested, this, [this] {
    close_allowed_ = true;
    close();
  });
  connect(page_, &WebPage::firstNavigationRefused, this, &MainWindow::DropEmptyWindow);
  // Qt would shrink a first size to two thirds of the screen; the chosen size wins here.
  resize(size_);
  show();
  view_->setFocus();
}

MainWindow::~MainWindow() {
  // The page goes after this object and may still report a stopped load; nobody is left to hear it.
  page_->disconnect(this);
  all_windows().removeAll(this);
  all_windows().removeAll(nullptr);
  // exit(), unlike quit(), does not ask the remaining windows to close: every run was settled
  // when the last window was closed, and what is left goes with the program.
  if (all_windows().isEmpty()) QCoreApplication::exit(0);
}

void MainWindow::Load(const QUrl& url) { view_->setUrl(url); }

QList<QPointer<MainWindow>> MainWindow::Windows() {
  all_windows().removeAll(nullptr);
  return all_windows();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (close_allowed_) {
    event->accept();
    return;
  }
  event->ignore();
  // Runs end with the program, that is with the last window; closing any other window leaves them be.
  const bool last = Windows().size() == 1;
  if (!last || ConsoleWindow::ConfirmStopAll(this)) page_->triggerAction(QWebEnginePage::RequestClose);
}

void MainWindow::DropEmptyWindow() {
  // A window whose first page went to the system browser, or nowhere, has nothing to show.
  close_allowed_ = true;
  QTimer::singleShot(0, this, &QWidget::close);
}

void MainWindow::OnLoadFailed(int error_code, const QString& error_text, const QUrl& failed_url) {
  if (error_code == kErrAborted) return;
  // An error page that failed in turn would only make a longer one that fails again.
  if (failed_url.scheme() == kShellPageScheme) return;
  // Qt reports failures of the main frame only, so the error page replaces the whole page.
  Load(LoadErrorPageUrl(failed_url, error_text, error_code));
}
