#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "net/net.h"
#include "net/transfer.h"

namespace {

// The upload's own cursor over the caller's bytes, which stay untouched, and
// what it asks of the gateway.
struct UploadCursor {
  const uint8_t* next = nullptr;
  std::size_t remaining = 0;
  long blksize = 0;
  bool no_options = false;  // a bare write request: no block size, no transfer size
  const TransferSettings* settings = nullptr;
  // libcurl's note that the gateway granted a larger block than asked for,
  // which it reports only as an illegal operation; the size when it names one.
  bool oversized = false;
  std::string granted;
};

UploadCursor fresh_cursor(const UploadSource& source, bool no_options, const TransferSettings& settings) {
  UploadCursor cursor;
  cursor.next = source.data;
  cursor.remaining = source.count;
  cursor.blksize = settings.tftp_blksize;
  cursor.no_options = no_options;
  cursor.settings = &settings;
  return cursor;
}

// The block size in libcurl's note, "... (N)"; empty when it names none.
std::string granted_size(std::string_view note) {
  const std::size_t open = note.rfind('('), close = note.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return "";
  return std::string(note.substr(open + 1, close - open - 1));
}

// libcurl's trace: watched for the block size note, and shown as libcurl
// would show it when the user asked for the trace.
int watch_trace(CURL*, curl_infotype type, char* text, std::size_t size, void* context) {
  auto* cursor = static_cast<UploadCursor*>(context);
  if (type != CURLINFO_TEXT) return 0;
  const std::string_view note(text, size);
  if (note.find("blksize") != std::string_view::npos && note.find("larger") != std::string_view::npos) {
    cursor->oversized = true;
    cursor->granted = granted_size(note);
  }
  if (cursor->settings->verbose) {
    std::fputs("* ", cursor->settings->reporter.err);
    std::fwrite(text, 1, size, cursor->settings->reporter.err);
  }
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
  const TftpLimits& limits = cursor->settings->tftp;
  curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, watch_trace);
  curl_easy_setopt(handle, CURLOPT_DEBUGDATA, cursor);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, limits.total_seconds);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.start_seconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_bytes);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.low_speed_seconds);
  curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(handle, CURLOPT_READFUNCTION, read_chunk);
  curl_easy_setopt(handle, CURLOPT_READDATA, cursor);
  curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(cursor->remaining));
  if (cursor->no_options)
    curl_easy_setopt(handle, CURLOPT_TFTP_NO_OPTIONS, 1L);
  else
    curl_easy_setopt(handle, CURLOPT_TFTP_BLKSIZE, cursor->blksize);
}

// libcurl reports a TFTP error code it has no name for, error 8 ("options
// refused") among them, as an aborted transfer; the tool has no callback that aborts.
bool options_refused(const net::Attempt& attempt) { return attempt.code == CURLE_ABORTED_BY_CALLBACK; }

// One line for the ways an upload fails that libcurl words in its own terms.
Transfer report_failure(const TransferSettings& settings, const std::string& address, const net::Attempt& attempt,
                        const UploadCursor& cursor) {
  const Reporter& reporter = settings.reporter;
  const TftpLimits& limits = settings.tftp;
  const std::string host = net::host_of("tftp://" + address);
  if (options_refused(attempt)) {
    report_error(reporter,
                 "TFTP upload to %s refused: the gateway rejects the transfer options (TFTP error 8), also when "
                 "none are sent.\n",
                 host.c_str());
    return Transfer::Failed;
  }
  if (attempt.code == CURLE_TFTP_ILLEGAL && cursor.oversized) {
    report_error(reporter,
                 "TFTP upload to %s refused: the gateway granted blocks of %s bytes, more than the %ld asked for.\n",
                 host.c_str(), cursor.granted.empty() ? "more" : cursor.granted.c_str(), cursor.blksize);
    return Transfer::Failed;
  }
  if (attempt.code != CURLE_OPERATION_TIMEDOUT) return net::report_curl_failure(reporter, attempt.code);
  if (attempt.seconds + 1 >= static_cast<double>(limits.total_seconds))  // libcurl may end a little early
    report_error(reporter, "TFTP upload to %s not finished within %ld s.\n", host.c_str(), limits.total_seconds);
  else if (attempt.sent == 0)
    report_error(reporter, "No answer from %s to the TFTP upload within %ld s.\n", host.c_str(),
                 limits.start_seconds);
  else
    report_error(reporter, "TFTP upload to %s stalled after %lld bytes: less than %ld bytes/s for %ld s.\n",
                 host.c_str(), static_cast<long long>(attempt.sent), limits.low_speed_bytes,
                 limits.low_speed_seconds);
  return Transfer::Unreachable;
}

}  // namespace

Transfer CurlGateway::tftp_upload(const char* address, const UploadSource* source) {
  if (!address || !source || !source->data || source->count == 0) return Transfer::Failed;
  auto url = format_text("tftp://%s/flashraw.bin", address);
  if (!url) return Transfer::Failed;
  net::announce(settings_, "firmware_push_tftp", "pushing", *url);
  UploadCursor cursor = fresh_cursor(*source, false, settings_);
  net::Attempt attempt;
  if (!net::perform(settings_, *url, configure_upload, &cursor, &attempt)) return Transfer::Failed;
  // A gateway that refuses options gets one more try from the start with a
  // bare request, which every TFTP server takes: 512-byte blocks.
  if (options_refused(attempt)) {
    cursor = fresh_cursor(*source, true, settings_);
    if (!net::perform(settings_, *url, configure_upload, &cursor, &attempt)) return Transfer::Failed;
  }
  if (attempt.code == CURLE_OK) return Transfer::Done;
  return report_failure(settings_, address, attempt, cursor);
}
