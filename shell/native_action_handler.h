// The script bridge's native side: the three native functions run here.
//
// Page scripts have no synchronous native functions in Qt WebEngine, yet the
// page must get each function's result as a plain return value. The injected
// script (bridge.js) therefore makes a synchronous XMLHttpRequest to the
// "varnkit-native:" scheme, served by NativeActionHandler in the browser
// process. The reply is held back until the dialog and the console tool have
// ended: the renderer waits in that request, while the browser process's event
// loop keeps running, so windows keep painting and the console window shows the
// tool's output live. Requests carry the function name as path and the address
// as "ip" query item, absent when the first argument was missing or no string.
// native_gatewayStatus is the one asynchronous function: the bridge hands the
// page a Promise of the JSON text that the reply carries. native_lastRun
// answers at once with the log and archive of the last finished run (JSON),
// native_showLog(name) opens that log, native_runProgress tells how far the
// running tool has got (a JSON string).
#pragma once

#include <QString>
#include <QWebEngineUrlSchemeHandler>

#include <functional>
#include <optional>
#include <string>

#include "gateway_status.h"
#include "tool_command.h"

inline constexpr char kNativeScheme[] = "varnkit-native";

// Must run before the QApplication exists.
void RegisterNativeScheme();

// The injected script's source, ready for the profile's script collection. It
// installs the interface only in documents whose origin may use it (origin_rule.h).
QString NativeBridgeScript(bool kit_server_verified);

class NativeActionHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT

 public:
  using Reply = std::function<void(int)>;

  // Answers only requests from origins that may use the native interface.
  NativeActionHandler(QObject* parent, bool kit_server_verified);
  void requestStarted(QWebEngineUrlRequestJob* job) override;

  // One call of native function `name`. `reply` receives the page's result once
  // the notice, the dialog and the console tool are done. False when `name` is
  // not one of the three functions (nothing is shown then).
  // A channel setup also needs the page's channel and kind texts (`choice`).
  static bool Execute(const QString& name, const std::optional<QString>& address,
                      const std::optional<ChannelChoice>& choice, const Reply& reply);

 private:
  const bool kit_server_verified_;
};

// Runs the console tool's status query of `address` without a window; `done`
// receives its outcome, at the latest after kStatusQueryLimitMs.
void QueryGatewayStatus(const std::string& address, const std::function<void(const GatewayStatus&)>& done);

// Opens a window with the run log `name` from the logs folder; false when no
// such log exists (names with a folder are refused).
bool ShowLog(const QString& name);

// Shows the open dialog `look` describes, for folders or for files, over the
// active window, starting in the folder used last for its kind; `done` receives
// the chosen path, or an empty text when none was chosen.
void PickPath(bool pick_folders, const PathDialog& look, const std::function<void(const QString&)>& done);
