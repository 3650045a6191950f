#include "net/net.h"
#include "net/transfer.h"

Transfer CurlGateway::fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) {
  if (!tag || !url || !buffer) return Transfer::Failed;
  std::vector<uint8_t>().swap(buffer->data);
  std::string text = url;
  if (text.empty()) return Transfer::Failed;
  net::ReplySink sink{&buffer->data, buffer->limit};
  const Transfer result = net::run_http(settings_, tag, "fetching", text, &sink);
  if (result != Transfer::Done) return result;
  report(settings_.reporter, "%s\treceived %llu bytes.\n", tag, static_cast<unsigned long long>(buffer->count()));
  return Transfer::Done;
}
