// The "views" window kind (--use-views): a top-level window that hosts a browser view.
#pragma once

#include <QPointer>
#include <QWidget>

class Browser;

class ShellWindowDelegate : public QWidget {
  Q_OBJECT

 public:
  // Creates the window for `browser_view` and shows it.
  explicit ShellWindowDelegate(Browser* browser_view);

  QSize GetPreferredSize() const;
  QSize sizeHint() const override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnWindowCreated();
  bool CanClose();

  QPointer<Browser> browser_view_;  // cleared by Qt when the view goes
};

struct ShellBrowserViewDelegate {
  // A pop-up's browser view gets its own top-level window of the same kind.
  static bool OnPopupBrowserViewCreated(Browser* opener, Browser* popup);
};
