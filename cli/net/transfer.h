// The frame every gateway transfer shares: the announcement line, one easy
// handle per try, and the failure lines. HTTP requests run through
// run_http, which adds the limits, the reply's size cap and the redirect
// policy; the TFTP upload uses `perform` and names its own failures.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/net.h"
#include "util/text.h"

namespace net {

// Sets the operation's own options on a fresh handle (URL and trace are already set).
using ConfigureHandle = void (*)(CURL* handle, void* context);

// What one try left behind.
struct Attempt {
  CURLcode code = CURLE_OK;
  long status = 0;         // the HTTP status
  bool connected = false;  // a connection was made
  curl_off_t sent = 0;     // bytes uploaded
  double seconds = 0;      // the try's duration
  std::string redirect;    // where a redirect reply points, as an absolute URL; empty otherwise
};

// Performs one try on a fresh handle; false when no handle could be made.
bool perform(const TransferSettings& settings, const std::string& url, ConfigureHandle configure, void* context,
             Attempt* attempt);

// Reports "<tag>\t<verb> URL '<url>'.\n" before libcurl's meter and trace.
void announce(const TransferSettings& settings, const char* tag, const char* verb, const std::string& url);

// The host part of `url` as the gateway's name in messages; the whole URL when it has none.
std::string host_of(const std::string& url);

// Reports libcurl's failure line; Unreachable when no connection could be made.
Transfer report_curl_failure(const Reporter& reporter, CURLcode code);

// Where an HTTP reply's body goes: kept in `keep`, or counted and dropped
// when `keep` is nullptr; never more than `limit` bytes.
struct ReplySink {
  std::vector<uint8_t>* keep = nullptr;
  std::size_t limit = REPLY_LIMIT;
  std::size_t received = 0;
  bool too_large = false;
  bool out_of_memory = false;
};

// GETs `url` into `sink` within the settings' limits, following redirects to
// the same scheme, host and port only. `status` (may be nullptr) receives the
// final HTTP status; `meter` shows libcurl's progress meter. Every failure is
// reported in one line.
Transfer run_http(const TransferSettings& settings, const char* tag, const char* verb, const std::string& url,
                  ReplySink* sink, long* status = nullptr, bool meter = false);

// For the trigger requests: an HTTP status of 400 or more means the gateway did not act.
Transfer check_trigger_status(const Reporter& reporter, long status);

}  // namespace net
