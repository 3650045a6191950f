// The shell itself: the browser profile with the script bridge, the kit's
// server it owns, and its windows. Documents of the kit's origin get the native
// functions only while the server is proved; when it has to be started again
// and proves itself, the windows on the kit's origin load their page again.
#pragma once

#include <QObject>
#include <QSize>
#include <QUrl>
#include <QWebEngineScript>

#include <memory>
#include <optional>

#include "app/paths.h"

class NativeSchemeHandler;
class QWebEngineProfile;
class QWebEngineUrlRequestInterceptor;
class ServerProcess;

class Application : public QObject {
  Q_OBJECT

 public:
  // `folders`: where the runtime keeps its cache and user data; none keeps the runtime's defaults.
  // `window_size`: the size of every window.
  Application(const std::optional<RuntimeFolders>& folders, QSize window_size);
  // Every window has closed by now; the profile must outlive their pages. Stops the server.
  ~Application() override;

  // Starts the server; the first window opens on `url` once the server has proved itself or failed to.
  void Start(const QUrl& url);

  // A later start's address: a new window on it, or without one, the newest window comes to the front.
  void OnHandedOver(const QString& url);

 private:
  void OpenWindow(const QUrl& url);
  void OnTrustChanged();

  std::unique_ptr<QWebEngineProfile> profile_;
  NativeSchemeHandler* native_;
  std::unique_ptr<QWebEngineUrlRequestInterceptor> recheck_;
  ServerProcess* server_;
  QWebEngineScript bridge_;
  const QSize window_size_;
  QUrl start_url_;
  bool proved_before_ = false;
};
