#include "net/transfer.h"

#include <cstdio>
#include <memory>

namespace net {

bool perform(const TransferSettings& settings, const std::string& url, ConfigureHandle configure, void* context,
             Attempt* attempt) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
  if (!handle) return false;
  curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle.get(), CURLOPT_VERBOSE, settings.verbose ? 1L : 0L);
  curl_easy_setopt(handle.get(), CURLOPT_STDERR, settings.reporter.err);
  configure(handle.get(), context);
  *attempt = Attempt{};
  attempt->code = curl_easy_perform(handle.get());
  curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &attempt->status);
  curl_off_t connected = 0;
  curl_easy_getinfo(handle.get(), CURLINFO_CONNECT_TIME_T, &connected);
  attempt->connected = connected != 0;
  curl_easy_getinfo(handle.get(), CURLINFO_SIZE_UPLOAD_T, &attempt->sent);
  curl_easy_getinfo(handle.get(), CURLINFO_TOTAL_TIME, &attempt->seconds);
  char* redirect = nullptr;
  if (attempt->code == CURLE_OK && curl_easy_getinfo(handle.get(), CURLINFO_REDIRECT_URL, &redirect) == CURLE_OK &&
      redirect)
    attempt->redirect = redirect;
  return true;
}

void announce(const TransferSettings& settings, const char* tag, const char* verb, const std::string& url) {
  report(settings.reporter, "%s\t%s URL '%s'.\n", tag, verb, url.c_str());
  // The announcement shows before libcurl's meter and trace on standard error.
  std::fflush(settings.reporter.out);
}

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

Transfer report_curl_failure(const Reporter& reporter, CURLcode code) {
  report_error(reporter, "curl_easy_perform() failed: %s\n", curl_easy_strerror(code));
  const bool no_gateway = code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST;
  return no_gateway ? Transfer::Unreachable : Transfer::Failed;
}

Transfer check_trigger_status(const Reporter& reporter, long status) {
  if (status < 400) return Transfer::Done;
  report_error(reporter, "request failed: HTTP %ld\n", status);
  return Transfer::Failed;
}

}  // namespace net
