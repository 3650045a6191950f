// The frame every gateway transfer shares: URL formatting, the announcement
// line, one easy handle per transfer and the failure line.
#pragma once

#include <curl/curl.h>

#include <string>

#include "net/net.h"
#include "util/text.h"

namespace net {

// Sets the operation's own options on a fresh handle (URL and trace are already set).
using ConfigureHandle = void (*)(CURL* handle, void* context);

// Tells, after a failed try with libcurl's `code`, whether to try once more;
// it may change the context so that `configure` sets the handle differently.
using RetryTransfer = bool (*)(CURLcode code, void* context);

// Reports "<tag>\t<verb> URL '<url>'.\n", performs the transfer and reports
// why it failed. `status` (may be nullptr) receives the HTTP status. HTTP
// requests pass the settings' limits as `limits`; a request that runs into
// one is reported as "No answer from <host> ..." instead of libcurl's line.
// When `retry` asks for it, a failed try is repeated once on a fresh handle,
// silently: only the last try's failure is reported.
Transfer run_transfer(const TransferSettings& settings, const char* tag, const char* verb, const std::string& url,
                      ConfigureHandle configure, void* context, long* status = nullptr,
                      const HttpLimits* limits = nullptr, RetryTransfer retry = nullptr);

// For the trigger requests: an HTTP status of 400 or more means the gateway did not act.
Transfer check_trigger_status(const Reporter& reporter, long status);

}  // namespace net
