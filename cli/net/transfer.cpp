#include "net/transfer.h"

#include <cstdio>
#include <memory>

namespace net {

namespace {

// False when no handle could be made; otherwise *code is libcurl's result.
bool perform_once(const TransferSettings& settings, const std::string& url, ConfigureHandle configure,
                  void* context, long* status, CURLcode* code) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
  if (!handle) return false;
  curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle.get(), CURLOPT_VERBOSE, settings.verbose ? 1L : 0L);
  curl_easy_setopt(handle.get(), CURLOPT_STDERR, settings.reporter.err);
  // libcurl's default body sink writes to this stream; operations that keep the body set their own.
  curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, settings.reporter.out);
  configure(handle.get(), context);
  *code = curl_easy_perform(handle.get());
  if (*code == CURLE_OK && status) curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, status);
  return true;
}

}  // namespace

int run_transfer(const TransferSettings& settings, const char* tag, const char* verb, const std::string& url,
                 ConfigureHandle configure, void* context, long* status, RetryTransfer retry) {
  const Reporter& reporter = settings.reporter;
  report(reporter, "%s\t%s URL '%s'.\n", tag, verb, url.c_str());
  // The announcement shows before libcurl's meter and trace on standard error.
  std::fflush(reporter.out);
  CURLcode code = CURLE_OK;
  if (!perform_once(settings, url, configure, context, status, &code)) return 1;
  if (code != CURLE_OK && retry && retry(code, context) &&
      !perform_once(settings, url, configure, context, status, &code))
    return 1;
  if (code != CURLE_OK) {
    report_error(reporter, "curl_easy_perform() failed: %s\n", curl_easy_strerror(code));
    return 1;
  }
  return 0;
}

int check_trigger_status(const Reporter& reporter, long status) {
  if (status < 400) return 0;
  // After the reply body that libcurl may have written to standard output.
  report_error(reporter, "request failed: HTTP %ld\n", status);
  return 1;
}

}  // namespace net
