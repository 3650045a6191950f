#include <cstdio>
#include <new>

#include "net/net.h"
#include "net/transfer.h"

namespace {

// libcurl's write callback: appends the chunk; 0 (a write error for libcurl) when memory runs out.
std::size_t append_chunk(char* chunk, std::size_t size, std::size_t count, void* context) {
  auto* buffer = static_cast<ReceiveBuffer*>(context);
  std::size_t length = size * count;
  try {
    buffer->data.insert(buffer->data.end(), chunk, chunk + length);
  } catch (const std::bad_alloc&) {
    // The exception must not cross libcurl's C frames; what arrived so far is dropped.
    std::vector<uint8_t>().swap(buffer->data);
    return 0;
  }
  return length;
}

void configure_fetch(CURL* handle, void* context) {
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, append_chunk);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, context);
}

}  // namespace

Transfer CurlGateway::fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) {
  if (!tag || !url || !buffer) return Transfer::Failed;
  std::vector<uint8_t>().swap(buffer->data);
  buffer->http_status = 0;
  std::string text = url;
  if (text.empty()) return Transfer::Failed;
  const Transfer result =
      net::run_transfer(settings_, tag, "fetching", text, configure_fetch, buffer, &buffer->http_status,
                        &settings_.http);
  if (result != Transfer::Done) return result;
  report(settings_.reporter, "%s\treceived %llu bytes.\n", tag, static_cast<unsigned long long>(buffer->count()));
  return Transfer::Done;
}
