// varnkit: the desktop shell. Starts the local web server, shows its user
// interface in a browser window until the last browser window has closed,
// then stops the server again.
#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QSocketNotifier>

#include <memory>

#include "native_action_handler.h"
#include "paths.h"
#include "platform.h"
#include "server.h"
#include "shell_app.h"
#include "shell_pages.h"

namespace {

// Closes whatever is still open (console windows, or everything after a
// termination signal) while the browser profile still exists.
void CloseRemainingWindows() {
  QList<QPointer<QWidget>> windows;
  for (QWidget* window : QApplication::topLevelWidgets()) windows << window;
  for (const QPointer<QWidget>& window : windows) delete window.data();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string data_home = shell_platform::user_data_home();
  const ServerIdentity server = StartServer(server_key_file(data_home));
  // Chromium cannot sandbox its renderers for root; everywhere else the sandbox stays on.
  if (shell_platform::running_as_root()) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  RegisterNativeScheme();
  RegisterShellPageScheme();

  // High-DPI scaling is always on in Qt 6.
  QApplication application(argc, argv);
  QApplication::setApplicationName("varnkit");
  // The installed icon theme's "varnkit"; run from a build tree, the page's icon served beside us.
  QApplication::setWindowIcon(QIcon::fromTheme("varnkit", QIcon(QString::fromStdString(
      server_folder(executable_folder(shell_platform::executable_path())) + "icon.svg"))));
  // Only the browser list ends the program, not the last window of any kind.
  QApplication::setQuitOnLastWindowClosed(false);

  // A termination signal ends the program like closing its windows, without asking: running
  // tools and the server are stopped too. exit(), unlike quit(), sends the windows no close events.
  std::unique_ptr<QSocketNotifier> on_signal;
  if (const int fd = shell_platform::termination_signal_fd(); fd >= 0) {
    on_signal = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(on_signal.get(), &QSocketNotifier::activated, &application, [] { QApplication::exit(0); });
  }

  {
    ShellApp shell(runtime_folders(data_home), server);
    shell.OnContextCreated();
    shell.OnContextInitialized();
    QApplication::exec();
    CloseRemainingWindows();
  }

  StopServer();
  return 0;
}
