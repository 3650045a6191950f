// The application object: sets up the browser profile, installs the script
// bridge and creates the first browser and its window.
#pragma once

#include <memory>
#include <optional>

#include "browser_client.h"
#include "paths.h"
#include "server.h"

class QWebEngineProfile;

class ShellApp {
 public:
  // `folders`: where the runtime keeps its cache and user data; none keeps the runtime's defaults.
  // `server`: who answers on the kit's server port; only the kit's own server's pages get the
  // native interface, and another program's pages are not shown at all.
  ShellApp(const std::optional<RuntimeFolders>& folders, ServerIdentity server);
  ~ShellApp();
  ShellApp(const ShellApp&) = delete;
  ShellApp& operator=(const ShellApp&) = delete;

  // Creates the browser on the start URL in a window of the kind the switches ask for.
  void OnContextInitialized();
  // Installs the native interface; Qt then runs it in every new script context
  // (every frame of every page, again on each navigation).
  void OnContextCreated();

 private:
  const ServerIdentity server_;
  std::unique_ptr<QWebEngineProfile> profile_;
  std::unique_ptr<BrowserClient> client_;
};
