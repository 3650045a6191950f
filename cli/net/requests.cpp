#include "net/net.h"
#include "net/transfer.h"

namespace {

std::size_t discard_body(char*, std::size_t size, std::size_t count, void*) { return size * count; }

void configure_restore(CURL* handle, void*) {
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, discard_body);
}

// The reply body keeps libcurl's default destination: standard output.
void configure_firmware_upgrade(CURL* handle, void*) {
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
}

Transfer run_trigger(const TransferSettings& settings, const char* tag, const std::string& url,
                     net::ConfigureHandle configure) {
  long status = 0;
  const Transfer result = net::run_transfer(settings, tag, "pushing", url, configure, nullptr, &status, &settings.http);
  if (result != Transfer::Done) return result;
  return net::check_trigger_status(settings.reporter, status);
}

}  // namespace

Transfer CurlGateway::request_restore(const char* address) {
  if (!address) return Transfer::Failed;
  auto url = format_text("%s/api/v100/status.ssi?action=restoreconfig", address);
  if (!url) return Transfer::Failed;
  return run_trigger(settings_, "backup_put", *url, configure_restore);
}

Transfer CurlGateway::request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size) {
  if (!address || !digest) return Transfer::Failed;
  static const char kDigits[] = "0123456789abcdef";
  char hash[65];
  for (int i = 0; i < 32; ++i) {
    hash[2 * i] = kDigits[digest[i] >> 4];
    hash[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
  hash[64] = '\0';
  auto url = format_text("%s/api/v100/status.ssi?action=firmwareupgrade&hash=%s&size=%zu", address, hash, size);
  if (!url) return Transfer::Failed;
  return run_trigger(settings_, "firmware", *url, configure_firmware_upgrade);
}
