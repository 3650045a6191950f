// The script bridge's native side.
//
// Page scripts have no synchronous native functions in Qt WebEngine, yet the
// page must get each function's result as a plain return value. The injected
// script (bridge.js) therefore makes a synchronous XMLHttpRequest to the
// "varnkit-native:" scheme, served by NativeSchemeHandler in the browser
// process. The reply is held back until the dialog and the console tool have
// ended: the renderer waits in that request, while the browser process's event
// loop keeps running, so windows keep painting and the console window shows the
// tool's output live. Requests carry the function name as path, the address as
// "ip" query item (absent when the first argument was missing or no string) and
// the document's key as "key".
//
// Which documents get the functions: the injected script installs them only
// in documents of the origins the handler names (browser/origin_rule.h), and
// only those documents learn the key of their origin. The kit's origin gets a
// new key each time its server has proved itself, and none while it has not;
// requests without the current key of their origin are refused.
// native_gatewayStatus, native_showBackup and native_compareBackups run the
// tool without a window: the bridge hands the page a Promise of the JSON text
// the reply carries. native_lastRun answers at once with the log and archive
// of the last finished run (JSON), native_showLog(name) opens that log,
// native_runProgress tells how far the running tool has got.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWebEngineUrlSchemeHandler>

inline constexpr char kNativeScheme[] = "varnkit-native";

// Must run before the QApplication exists.
void RegisterNativeScheme();

class NativeSchemeHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT

 public:
  explicit NativeSchemeHandler(QObject* parent);
  void requestStarted(QWebEngineUrlRequestJob* job) override;

  // Whether the kit's server is proved now: a new key for its origin when it is.
  void SetKitServerProved(bool proved);

  // The injected script's source for documents created from now on.
  QString BridgeScript() const;

 private:
  bool kit_server_proved_ = false;
  QByteArray kit_key_;
  const QByteArray shell_page_key_;
};
