#include <algorithm>
#include <cstring>

#include "net/net.h"
#include "net/transfer.h"
#include "util/events.h"

namespace {

// The upload's own cursor over the caller's bytes, which stay untouched, and
// the block size it asks for (0: libcurl's defaults).
struct UploadCursor {
  const uint8_t* start;
  std::size_t count;
  const uint8_t* next;
  std::size_t remaining;
  long blksize;
  const Reporter* events;  // the reporter whose event log receives the progress; nullptr: libcurl's meter
};

int tell_progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
  const auto* cursor = static_cast<const UploadCursor*>(context);
  event_progress(*cursor->events, static_cast<uint64_t>(sent), cursor->count);
  return 0;
}

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
  if (cursor->blksize) curl_easy_setopt(handle, CURLOPT_TFTP_BLKSIZE, cursor->blksize);
  if (cursor->events) {
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, tell_progress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, cursor);
  }
}

// A gateway that refuses the options (TFTP error 8, which libcurl reports as
// an aborted transfer) gets one more try from the start with libcurl's defaults.
bool retry_with_defaults(CURLcode code, void* context) {
  auto* cursor = static_cast<UploadCursor*>(context);
  if (code != CURLE_ABORTED_BY_CALLBACK || cursor->blksize == 0) return false;
  *cursor = UploadCursor{cursor->start, cursor->count, cursor->start, cursor->count, 0, cursor->events};
  return true;
}

}  // namespace

Transfer CurlGateway::tftp_upload(const char* address, const UploadSource* source) {
  if (!address || !source || !source->data || source->count == 0) return Transfer::Failed;
  auto url = format_text("tftp://%s/flashraw.bin", address);
  if (!url) return Transfer::Failed;
  UploadCursor cursor{source->data, source->count, source->data, source->count, settings_.tftp_blksize,
                      settings_.reporter.events ? &settings_.reporter : nullptr};
  return net::run_transfer(settings_, "firmware_push_tftp", "pushing", *url, configure_upload, &cursor, nullptr, nullptr,
                           retry_with_defaults);
}
