#include <algorithm>

#include "net/net.h"
#include "net/transfer.h"

namespace {

// The most of a firmware upgrade reply shown: it is a line of JSON, and a
// gateway must not fill the console.
constexpr std::size_t SHOWN_LINES = 5;
constexpr std::size_t SHOWN_LINE_BYTES = 200;

// The reply's first lines, escaped and cut, then how much was left out.
void show_reply(const Reporter& reporter, const std::vector<uint8_t>& body) {
  const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
  std::size_t start = 0, shown = 0;
  while (start < text.size() && shown < SHOWN_LINES) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t kept = utf8_prefix_length(line, SHOWN_LINE_BYTES);
    report(reporter, "%s%s\n", escape_bytes(line.substr(0, kept)).c_str(), kept < line.size() ? " ..." : "");
    start = end + 1;
    ++shown;
  }
  if (start < text.size())
    report(reporter, "(%zu more bytes of the gateway's reply not shown)\n", text.size() - start);
}

// A gateway's answer to a trigger request; `body` (may be nullptr) receives the
// reply, which is shown when it is kept.
Transfer run_trigger(const TransferSettings& settings, const char* tag, const std::string& url,
                     std::vector<uint8_t>* body) {
  long status = 0;
  net::ReplySink sink{body, REPLY_LIMIT};
  const Transfer result = net::run_http(settings, tag, "pushing", url, &sink, &status, true);
  if (result != Transfer::Done) return result;
  if (body) show_reply(settings.reporter, *body);
  return net::check_trigger_status(settings.reporter, status);
}

}  // namespace

Transfer CurlGateway::request_restore(const char* address) {
  if (!address) return Transfer::Failed;
  auto url = format_text("%s/api/v100/status.ssi?action=restoreconfig", address);
  if (!url) return Transfer::Failed;
  return run_trigger(settings_, "backup_put", *url, nullptr);
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
  std::vector<uint8_t> body;
  return run_trigger(settings_, "firmware", *url, &body);
}
