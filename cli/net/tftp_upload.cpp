#include <algorithm>
#include <cstring>

#include "net/net.h"
#include "net/transfer.h"

namespace {

// The upload's own cursor over the caller's bytes, which stay untouched.
struct UploadCursor {
  const uint8_t* next;
  std::size_t remaining;
};

std::size_t read_chunk(char* room, std::size_t size, std::size_t count, void* context) {
  auto* cursor = static_cast<UploadCursor*>(context);
  std::size_t length = std::min(size * count, cursor->remaining);
  if (length == 0) return 0;
  std::memcpy(room, cursor->next, length);
  cursor->next += length;
  cursor->remaining -= length;
  return length;
}

void configure_upload(CURL* handle, void* context) {
  auto* cursor = static_cast<UploadCursor*>(context);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 420L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 60L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 30L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(handle, CURLOPT_READFUNCTION, read_chunk);
  curl_easy_setopt(handle, CURLOPT_READDATA, cursor);
  curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(cursor->remaining));
}

}  // namespace

Transfer CurlGateway::tftp_upload(const char* address, const UploadSource* source) {
  if (!address || !source || !source->data || source->count == 0) return Transfer::Failed;
  auto url = format_text("tftp://%s/flashraw.bin", address);
  if (!url) return Transfer::Failed;
  UploadCursor cursor{source->data, source->count};
  return net::run_transfer(settings_, "firmware_push_tftp", "pushing", *url, configure_upload, &cursor);
}
