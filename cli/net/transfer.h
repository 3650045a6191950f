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

// Reports "<tag>\t<verb> URL '<url>'.\n", performs the transfer and reports
// why it failed. `status` (may be nullptr) receives the HTTP status. HTTP
// requests pass the settings' limits as `limits`; a request that runs into
// one is reported as "No answer from <host> ..." instead of libcurl's line.
Transfer run_transfer(const TransferSettings& settings, const char* tag, const char* verb, const std::string& url,
                      ConfigureHandle configure, void* context, long* status = nullptr,
                      const HttpLimits* limits = nullptr);

// For the trigger requests: an HTTP status of 400 or more means the gateway did not act.
Transfer check_trigger_status(const Reporter& reporter, long status);

}  // namespace net
