// One HTTP GET under the tool's limits: time, reply size and redirects.
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <optional>

#include "net/transfer.h"

namespace net {

namespace {

using Clock = std::chrono::steady_clock;

// libcurl's write callback: keeps or counts the chunk; 0 (a write error for
// libcurl, which ends the transfer) once the reply runs past its limit or
// memory runs out.
std::size_t take_chunk(char* chunk, std::size_t size, std::size_t count, void* context) {
  auto* sink = static_cast<ReplySink*>(context);
  const std::size_t length = size * count;
  if (length > sink->limit - sink->received) {
    sink->too_large = true;
    return 0;
  }
  sink->received += length;
  if (!sink->keep) return length;
  std::vector<uint8_t>& data = *sink->keep;
  try {
    if (data.capacity() - data.size() < length) {
      // Doubling, but once the next step would pass the limit, straight to
      // the limit: a reply near the limit is copied once less, and never
      // costs more than one and a half times the limit.
      std::size_t room = std::max(2 * data.capacity(), data.size() + length);
      if (room > sink->limit / 2) room = sink->limit;
      data.reserve(room);
    }
    data.insert(data.end(), chunk, chunk + length);
  } catch (const std::bad_alloc&) {
    // The exception must not cross libcurl's C frames; what arrived so far is dropped.
    std::vector<uint8_t>().swap(data);
    sink->out_of_memory = true;
    return 0;
  }
  return length;
}

struct HttpTry {
  ReplySink* sink;
  const HttpLimits* limits;
  long timeout_ms;
  bool meter;
};

void configure_http(CURL* handle, void* context) {
  const auto* t = static_cast<const HttpTry*>(context);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, t->limits->connect_seconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, t->limits->low_speed_bytes);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, t->limits->low_speed_seconds);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, t->timeout_ms);
  // run_http follows redirects itself, once it has seen where they lead.
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t->sink->limit));
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, take_chunk);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, t->sink);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, t->meter ? 0L : 1L);
}

// Scheme, host and port (the scheme's default when none is written).
struct Origin {
  std::string scheme, host, port;
};

std::optional<Origin> origin_of(const std::string& url) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
  // A URL without a scheme is taken the way the transfer takes it (http for an address).
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_GUESS_SCHEME) != CURLUE_OK)
    return std::nullopt;
  Origin origin;
  const std::pair<CURLUPart, std::string*> parts[] = {
      {CURLUPART_SCHEME, &origin.scheme}, {CURLUPART_HOST, &origin.host}, {CURLUPART_PORT, &origin.port}};
  for (const auto& [part, text] : parts) {
    char* value = nullptr;
    if (curl_url_get(parsed.get(), part, &value, CURLU_DEFAULT_PORT) != CURLUE_OK) return std::nullopt;
    *text = value;
    curl_free(value);
  }
  return origin;
}

bool same_origin(const std::string& a, const std::string& b) {
  const std::optional<Origin> first = origin_of(a), second = origin_of(b);
  return first && second && strcasecmp(first->scheme.c_str(), second->scheme.c_str()) == 0 &&
         strcasecmp(first->host.c_str(), second->host.c_str()) == 0 && first->port == second->port;
}

Transfer report_failure(const TransferSettings& settings, const std::string& url, const Attempt& attempt,
                        const ReplySink& sink, bool past_deadline) {
  const Reporter& reporter = settings.reporter;
  const HttpLimits& limits = settings.http;
  const std::string host = host_of(url);
  if (sink.too_large || attempt.code == CURLE_FILESIZE_EXCEEDED) {
    report_error(reporter, "The reply from %s runs past %zu KiB; the transfer is abandoned.\n", host.c_str(),
                 sink.limit >> 10);
    return Transfer::Failed;
  }
  if (sink.out_of_memory) {
    report_error(reporter, "Out of memory while receiving the reply from %s.\n", host.c_str());
    return Transfer::Failed;
  }
  if (attempt.code != CURLE_OPERATION_TIMEDOUT) return report_curl_failure(reporter, attempt.code);
  if (past_deadline)
    report_error(reporter, "No complete answer from %s within %ld s.\n", host.c_str(), limits.total_seconds);
  else if (!attempt.connected)
    report_error(reporter, "No answer from %s within %ld s.\n", host.c_str(), limits.connect_seconds);
  else
    report_error(reporter, "No answer from %s: less than %ld bytes/s for %ld s.\n", host.c_str(),
                 limits.low_speed_bytes, limits.low_speed_seconds);
  return Transfer::Unreachable;
}

}  // namespace

Transfer run_http(const TransferSettings& settings, const char* tag, const char* verb, const std::string& url,
                  ReplySink* sink, long* status, bool meter) {
  announce(settings, tag, verb, url);
  const HttpLimits& limits = settings.http;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limits.total_seconds);
  std::string current = url;
  for (long hops = 0;; ++hops) {
    sink->received = 0;
    if (sink->keep) sink->keep->clear();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    HttpTry attempt_context{sink, &limits, static_cast<long>(std::max<decltype(left)>(left, 1)), meter};
    Attempt attempt;
    if (!perform(settings, current, configure_http, &attempt_context, &attempt)) return Transfer::Failed;
    // libcurl's timers may fire a little before the deadline by our clock.
    const bool past_deadline = Clock::now() + std::chrono::seconds(1) >= deadline;
    if (attempt.code != CURLE_OK) return report_failure(settings, url, attempt, *sink, past_deadline);
    if (attempt.redirect.empty()) {
      if (status) *status = attempt.status;
      return Transfer::Done;
    }
    // Only the gateway itself may be asked: a redirect elsewhere would fetch
    // another device's data under this gateway's name, or send it a request.
    if (!same_origin(url, attempt.redirect)) {
      report_error(settings.reporter, "Redirect from %s to '%s' refused: it leads away from the gateway.\n",
                   host_of(url).c_str(), escape_bytes(attempt.redirect).c_str());
      return Transfer::Failed;
    }
    if (hops == limits.max_redirects) {
      report_error(settings.reporter, "More than %ld redirects from %s; the request is abandoned.\n",
                   limits.max_redirects, host_of(url).c_str());
      return Transfer::Failed;
    }
    current = attempt.redirect;
  }
}

}  // namespace net
