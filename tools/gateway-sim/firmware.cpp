// The firmware-upgrade trigger: the last TFTP upload is taken as a firmware
// image when its size and SHA-256 are the ones the request names and its
// information block is one for this gateway's model; the gateway then reports
// the image's version as its firmware version.
#include <openssl/sha.h>

#include <cstring>

#include "gateway.h"

namespace sim {

namespace {

// Where a firmware image describes itself, and what a gateway accepts.
constexpr std::size_t kInfoOffset = 0x1C0000;
constexpr std::size_t kModelName = 12;
constexpr std::size_t kVersionString = 78;
constexpr std::size_t kTextSize = 33;
constexpr std::size_t kSmallestImage = 0x1C00B8;
constexpr std::size_t kLargestImage = 0xFFFFFE;

Reply text_reply(int status, const std::string& text) { return Reply{status, "text/plain", text}; }

// One request-log line in the log's field layout:
//   firmware <took|refused> <bytes> UPGRADE <version or -> [reason=words_joined_by_underscores]
Reply refuse(Gateway& gateway, int status, std::size_t bytes, const std::string& reason) {
  std::string token = reason;
  for (char& c : token)
    if (c == ' ') c = '_';
  gateway.log.write("firmware refused %zu UPGRADE - reason=%s", bytes, token.c_str());
  return text_reply(status, "firmware upgrade refused: " + reason + "\n");
}

// A decimal number of digits only, as the request writes it.
bool parse_size(const std::string& text, std::size_t* out) {
  if (text.empty() || text.size() > 19) return false;
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  *out = value;
  return true;
}

// 64 lower-case hexadecimal digits, as the request writes them.
bool parse_hash(const std::string& text, unsigned char* digest) {
  if (text.size() != 2 * SHA256_DIGEST_LENGTH) return false;
  auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  for (std::size_t i = 0; i < SHA256_DIGEST_LENGTH; ++i) {
    const int high = nibble(text[2 * i]);
    const int low = nibble(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

// A zero-terminated text field, never read beyond its 33 bytes.
std::string text_field(const std::vector<uint8_t>& image, std::size_t offset) {
  const char* text = reinterpret_cast<const char*>(image.data() + kInfoOffset + offset);
  std::size_t length = 0;
  while (length < kTextSize && text[length] != '\0') ++length;
  return std::string(text, length);
}

}  // namespace

Reply handle_firmware_upgrade(Gateway& gateway, const std::string& hash, const std::string& size) {
  if (gateway.last_upload.sequence == 0) return refuse(gateway, 409, 0, "nothing uploaded");
  const std::vector<uint8_t>& upload = gateway.last_upload.data;
  std::size_t named_size = 0;
  unsigned char named_hash[SHA256_DIGEST_LENGTH];
  if (!parse_size(size, &named_size) || !parse_hash(hash, named_hash))
    return refuse(gateway, 400, upload.size(), "hash and size are required");
  if (named_size != upload.size()) return refuse(gateway, 422, upload.size(), "size does not match the upload");
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(upload.data(), upload.size(), digest);
  if (std::memcmp(digest, named_hash, sizeof digest) != 0)
    return refuse(gateway, 422, upload.size(), "hash does not match the upload");
  if (upload.size() < kSmallestImage || upload.size() > kLargestImage)
    return refuse(gateway, 422, upload.size(), "not a firmware image");
  const std::string model = text_field(upload, kModelName);
  if (model != gateway.identity.model)
    return refuse(gateway, 422, upload.size(), "image is for " + (model.empty() ? "no model" : model));

  const std::string version = text_field(upload, kVersionString);
  if (gateway.upgrade.restart_ms > 0) {
    gateway.upgrade.until = std::chrono::steady_clock::now() + std::chrono::milliseconds(gateway.upgrade.restart_ms);
    gateway.upgrade.next_version = gateway.upgrade.keeps_version ? gateway.identity.firmware_version : version;
  } else {
    gateway.identity.firmware_version = version;
  }
  gateway.log.write("firmware took %zu UPGRADE %s", upload.size(), version.empty() ? "-" : version.c_str());
  return Reply{200, "application/json", "{\"result\":\"upgrade started\"}\n"};
}

}  // namespace sim
