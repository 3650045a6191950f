#include "views.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "browser_client.h"

ShellWindowDelegate::ShellWindowDelegate(Browser* browser_view) : browser_view_(browser_view) {
  setAttribute(Qt::WA_DeleteOnClose);
  OnWindowCreated();
}

QSize ShellWindowDelegate::GetPreferredSize() const { return {600, 700}; }

QSize ShellWindowDelegate::sizeHint() const { return GetPreferredSize(); }

void ShellWindowDelegate::OnWindowCreated() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_view_);
  // Qt would shrink a first size to two thirds of the screen; the preferred size wins here.
  resize(GetPreferredSize());
  show();
  browser_view_->setFocus();
}

bool ShellWindowDelegate::CanClose() { return browser_view_ ? browser_view_->TryCloseBrowser() : true; }

void ShellWindowDelegate::closeEvent(QCloseEvent* event) {
  if (CanClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool ShellBrowserViewDelegate::OnPopupBrowserViewCreated(Browser*, Browser* popup) {
  new ShellWindowDelegate(popup);
  return true;
}
