// varnkit: the desktop shell. Hands its address to a varnkit that already runs
// for this user, or else starts the local web server and shows its user
// interface in a window until the last window has closed, then stops the server.
#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include <memory>

#include "app/application.h"
#include "app/paths.h"
#include "app/platform.h"
#include "app/single_instance.h"
#include "app/switches.h"
#include "bridge/native_scheme_handler.h"
#include "browser/shell_page_handler.h"

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
  // Chromium cannot sandbox its renderers for root; everywhere else the sandbox stays on.
  if (shell_platform::running_as_root()) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  RegisterNativeScheme();
  RegisterShellPageScheme();

  // High-DPI scaling is always on in Qt 6.
  QApplication application(argc, argv);
  QApplication::setApplicationName("varnkit");
  std::vector<std::string> arguments;
  for (const QString& argument : QApplication::arguments().mid(1)) arguments.push_back(argument.toStdString());
  const ShellSwitches switches = parse_switches(arguments);

  SingleInstance instance;
  if (instance.HandOver(QString::fromStdString(switches.url))) return 0;
  instance.Listen();

  // The installed icon theme's "varnkit"; run from a build tree, the page's icon served beside us.
  QApplication::setWindowIcon(QIcon::fromTheme("varnkit", QIcon(QApplication::applicationDirPath() + "/http/icon.svg")));
  // Only the main windows end the program, not the last window of any kind.
  QApplication::setQuitOnLastWindowClosed(false);

  // A termination signal ends the program like closing its windows, without asking: running
  // tools and the server are stopped too. exit(), unlike quit(), sends the windows no close events.
  std::unique_ptr<QSocketNotifier> on_signal;
  if (const int fd = shell_platform::termination_signal_fd(); fd >= 0) {
    on_signal = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(on_signal.get(), &QSocketNotifier::activated, &application, [] { QApplication::exit(0); });
  }

  {
    // A bare "host:port/path" gets its scheme, as in an address bar.
    Application shell(runtime_folders(shell_platform::user_data_home()),
                      switches.use_views ? QSize(600, 700) : QSize(790, 700));
    QObject::connect(&instance, &SingleInstance::handedOver, &shell, &Application::OnHandedOver);
    shell.Start(QUrl::fromUserInput(QString::fromStdString(start_url(switches))));
    QApplication::exec();
    CloseRemainingWindows();
  }
  return 0;
}
