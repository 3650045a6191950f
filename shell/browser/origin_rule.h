// Which documents may use the native interface and where a page may go, in one
// place: the injected bridge installs the interface only in documents of the
// origins named here, every native request is checked against them, and every
// navigation of a window's page passes navigation_rule().
#pragma once

#include <QUrl>

#include <string>
#include <string_view>
#include <vector>

// The shell's own pages (load error, port taken) are served under this scheme,
// one host per page, so that each page has an origin of its own.
inline constexpr char kShellPageScheme[] = "varnkit-page";
inline constexpr char kLoadErrorPage[] = "load-error";
inline constexpr char kPortTakenPage[] = "port-taken";

// The kit's web server's one origin, http://127.0.0.1:PORT. No name stands for
// it: "localhost" may resolve to [::1], where another program may listen.
std::string kit_origin();
bool is_kit_origin(std::string_view origin);

// "scheme://host[:port]" of `url`, the form the runtime reports origins in.
std::string origin_of(const QUrl& url);

// `url` with http://localhost:PORT (the kit's port) turned into the kit's origin; any other URL as it is.
QUrl kit_address(const QUrl& url);

// The origins whose documents get the native interface: the kit's web server,
// only while it is proved to be the window's own, and the shell's load-error
// page. Frames that inherit an origin (about:blank, srcdoc) count as it.
std::vector<std::string> native_origins(bool kit_server_proved);

// True when a document or request of `origin` may use the native interface.
bool may_use_native(std::string_view origin, bool kit_server_proved);

enum class Navigation {
  Allow,          // the page goes there
  SystemBrowser,  // an http or https address of another origin: the desktop's browser opens it
  Drop,           // anything else: nothing opens it
};

// Where a main frame may go. `from` is the origin of the document it shows
// (for a new window's first page, its opener's); `shells_own` marks loads the
// shell itself makes (start page, error pages), reloads and history moves.
Navigation navigation_rule(const QUrl& target, const std::string& from, bool shells_own);

// True for the schemes the runtime loads inside a page (http, https, data,
// about, blob, file, the shell's own pages): a frame may go there under the
// runtime's own rules. Any other scheme would only be handed to the desktop.
bool loads_in_page(const QUrl& target);
