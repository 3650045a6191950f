// The page shown in place of a page that failed to load, and the data URI that carries it.
#pragma once

#include <string>
#include <string_view>

// The network error of a navigation that was cancelled; it leaves the page as it is.
inline constexpr int kErrAborted = -3;

// `text` with & < > " ' replaced by character references.
std::string html_escape(std::string_view text);

// "<html><body bgcolor=\"white\"><h2>Failed to load URL URL with error TEXT (CODE).</h2></body></html>",
// with the URL and the error text escaped: both come from outside and the page receives the native functions.
std::string load_error_page(std::string_view failed_url, std::string_view error_text, int error_code);

// Standard base64 with padding.
std::string base64_encode(std::string_view bytes);

// Percent-encodes every byte except ASCII letters, digits and - . _ ~ (a space becomes %20, never '+').
std::string uri_encode(std::string_view text);

// "data:" + mime type + ";base64," + the URI-encoded base64 of `text`.
std::string GetDataUri(std::string_view text, std::string_view mime_type);
