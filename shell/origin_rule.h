// Which documents may use the native interface, in one place: the injected
// bridge installs it only there, and every handler of a native request asks here
// before it acts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The shell's own pages (load error, port taken) are served under this scheme,
// one host per page, so that each page has an origin of its own.
inline constexpr char kShellPageScheme[] = "varnkit-page";
inline constexpr char kLoadErrorPage[] = "load-error";
inline constexpr char kPortTakenPage[] = "port-taken";

// True for the kit's web server's origins: http://127.0.0.1:7681 and http://localhost:7681.
bool is_kit_origin(std::string_view origin);

// The origins ("scheme://host[:port]") whose documents get the native interface:
// the kit's web server, only once it proved to be the kit's own, and the shell's
// load-error page. Frames that inherit an origin (about:blank, srcdoc) count as it.
std::vector<std::string> native_origins(bool kit_server_verified);

// True when a document or request of `origin` may use the native interface.
bool may_use_native(std::string_view origin, bool kit_server_verified);
