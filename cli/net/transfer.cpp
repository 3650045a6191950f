#include "net/transfer.h"

#include <cstdio>
#include <memory>

namespace net {

namespace {

// The host part of `url`, for messages; the whole URL when it has none.
std::string host_of(const std::string& url) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
  char* host = nullptr;
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_DEFAULT_SCHEME) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK)
    return url;
  std::string text = host;
  curl_free(host);
  return text;
}

void apply_limits(CURL* handle, const HttpLimits& limits) {
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connect_seconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_bytes);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.low_speed_seconds);
}

// Reports a failed perform; a limit that was hit is named with the gateway.
Transfer report_failure(const Reporter& reporter, CURLcode code, const std::string& url, const HttpLimits* limits,
                        bool never_connected) {
  if (limits && code == CURLE_OPERATION_TIMEDOUT) {
    const std::string host = host_of(url);
    if (never_connected) {
      report_error(reporter, "No answer from %s within %ld s.\n", host.c_str(), limits->connect_seconds);
      return Transfer::Unreachable;
    }
    report_error(reporter, "No answer from %s: less than %ld bytes/s for %ld s.\n", host.c_str(),
                 limits->low_speed_bytes, limits->low_speed_seconds);
    return Transfer::Failed;
  }
  report_error(reporter, "curl_easy_perform() failed: %s\n", curl_easy_strerror(code));
  const bool no_gateway = code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST ||
                          (code == CURLE_OPERATION_TIMEDOUT && never_connected);
  return no_gateway ? Transfer::Unreachable : Transfer::Failed;
}

// False when no handle could be made; otherwise *code is libcurl's result.
bool perform_once(const TransferSettings& settings, const std::string& url, ConfigureHandle configure,
                  void* context, long* status, const HttpLimits* limits, CURLcode* code, bool* never_connected) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
  if (!handle) return false;
  curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle.get(), CURLOPT_VERBOSE, settings.verbose ? 1L : 0L);
  curl_easy_setopt(handle.get(), CURLOPT_STDERR, settings.reporter.err);
  // libcurl's default body sink writes to this stream; operations that keep the body set their own.
  curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, settings.reporter.out);
  if (limits) apply_limits(handle.get(), *limits);
  configure(handle.get(), context);
  *code = curl_easy_perform(handle.get());
  if (*code == CURLE_OK && status) curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, status);
  curl_off_t connected = 0;
  curl_easy_getinfo(handle.get(), CURLINFO_CONNECT_TIME_T, &connected);
  *never_connected = connected == 0;
  return true;
}

}  // namespace

Transfer run_transfer(const TransferSettings& settings, const char* tag, const char* verb, const std::string& url,
                      ConfigureHandle configure, void* context, long* status, const HttpLimits* limits,
                      RetryTransfer retry) {
  const Reporter& reporter = settings.reporter;
  report(reporter, "%s\t%s URL '%s'.\n", tag, verb, url.c_str());
  // The announcement shows before libcurl's meter and trace on standard error.
  std::fflush(reporter.out);
  CURLcode code = CURLE_OK;
  bool never_connected = false;
  if (!perform_once(settings, url, configure, context, status, limits, &code, &never_connected))
    return Transfer::Failed;
  if (code != CURLE_OK && retry && retry(code, context) &&
      !perform_once(settings, url, configure, context, status, limits, &code, &never_connected))
    return Transfer::Failed;
  if (code != CURLE_OK) return report_failure(reporter, code, url, limits, never_connected);
  return Transfer::Done;
}

Transfer check_trigger_status(const Reporter& reporter, long status) {
  if (status < 400) return Transfer::Done;
  // After the reply body that libcurl may have written to standard output.
  report_error(reporter, "request failed: HTTP %ld\n", status);
  return Transfer::Failed;
}

}  // namespace net
