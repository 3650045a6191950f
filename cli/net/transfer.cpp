#include "net/transfer.h"

#include <cstdarg>
#include <cstdio>
#include <memory>

#include "net/net.h"

namespace net {

std::optional<std::string> format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) {
    va_end(args);
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

int run_transfer(const char* tag, const char* verb, const std::string& url, ConfigureHandle configure, void* context,
                 long* status) {
  std::printf("%s\t%s URL '%s'.\n", tag, verb, url.c_str());
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
  if (!handle) return 1;
  curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle.get(), CURLOPT_VERBOSE, verbose ? 1L : 0L);
  configure(handle.get(), context);
  // The announcement shows before libcurl's meter and trace on standard error.
  std::fflush(stdout);
  CURLcode code = curl_easy_perform(handle.get());
  if (code != CURLE_OK) {
    std::fprintf(stderr, "curl_easy_perform() failed: %s\n", curl_easy_strerror(code));
    return 1;
  }
  if (status) curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, status);
  return 0;
}

int check_trigger_status(long status) {
  if (status < 400) return 0;
  std::fflush(stdout);  // after the reply body that libcurl may have written there
  std::fprintf(stderr, "request failed: HTTP %ld\n", status);
  return 1;
}

}  // namespace net
