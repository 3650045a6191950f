// The shell's own pages: the one shown in place of a page that failed to load,
// and the one shown when another program holds the kit's server port.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The network error of a navigation that was cancelled; it leaves the page as it is.
inline constexpr int kErrAborted = -3;

inline constexpr char kLoadErrorTitle[] = "varnkit: page not available";

// `text` with & < > " ' replaced by character references.
std::string html_escape(std::string_view text);

// Titled kLoadErrorTitle; its heading is "Failed to load URL URL with error TEXT (CODE).",
// with the URL and the error text escaped (both come from outside), followed by what to try.
std::string load_error_page(std::string_view failed_url, std::string_view error_text, int error_code);

// Says that another program holds 127.0.0.1:`port`, so nothing of it is shown, and what to do.
std::string port_taken_page(uint16_t port);
