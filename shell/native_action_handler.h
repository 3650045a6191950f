// The script bridge's native side: the native functions run here.
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
// native_gatewayStatus, native_showBackup and native_compareBackups run the tool
// without a window: the bridge hands the page a Promise of the JSON text that
// the reply carries. native_lastRun
// answers at once with the log and archive of the last finished run (JSON),
// native_showLog(name) opens that log, native_runProgress tells how far the
// running tool has got (a JSON string).
#pragma once

#include <QString>
#include <QWebEngineUrlSchemeHandler>

#include <functional>
#include <optional>
#include <string>
#include <vector>

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
  // not one of the action functions (nothing is shown then).
  // A channel setup or export also needs the page's channel and kind texts (`choice`).
  static bool Execute(const QString& name, const std::optional<QString>& address,
                      const std::optional<ChannelChoice>& choice, const Reply& reply);

 private:
  const bool kit_server_verified_;
};

// Runs the console tool with `arguments` without a window; `done` receives its
// output, at the latest after `limit_ms` (the tool is killed then).
void RunQuietly(const std::vector<std::string>& arguments, int limit_ms,
                const std::function<void(const QuietRun&)>& done);

// Runs the console tool's status query of `address` without a window; `done`
// receives its outcome, at the latest after kStatusQueryLimitMs.
void QueryGatewayStatus(const std::string& address, const std::function<void(const GatewayStatus&)>& done);

// The decoded backup at `path` (a file dialog asks for it when `path` is empty)
// as the JSON text for the page (backup_view.h).
void ShowBackup(const QString& path, const std::function<void(const std::string&)>& done);

// The differences from the backup at `old_path` to the one at `new_path` (a file
// dialog asks for it when empty), as the JSON text for the page.
void CompareBackups(const QString& old_path, const QString& new_path,
                    const std::function<void(const std::string&)>& done);

// Opens a window with the run log `name` from the logs folder; false when no
// such log exists (names with a folder are refused).
bool ShowLog(const QString& name);

// Shows the dialog `look` describes, for a folder, a file to open or a file to
// save, over the active window, starting in the folder used last for its kind;
// `done` receives the chosen path, or an empty text when none was chosen.
void PickPath(PathPick pick, const PathDialog& look, const std::function<void(const QString&)>& done);
