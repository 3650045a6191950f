#include "testing/fake_gateway.h"

int FakeGateway::fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) {
  if (!tag || !url || !buffer) return 1;
  buffer->data.clear();
  calls.push_back(std::string("fetch ") + url);
  const auto reply = replies.find(url);
  if (reply == replies.end()) return 1;
  buffer->data = reply->second;
  return 0;
}

int FakeGateway::tftp_upload(const char* address, const UploadSource* source) {
  if (!address || !source || !source->data || source->count == 0) return 1;
  calls.push_back(std::string("upload ") + address + " " + std::to_string(source->count));
  uploads.emplace_back(source->data, source->data + source->count);
  return fail_upload ? 1 : 0;
}

int FakeGateway::request_restore(const char* address) {
  if (!address) return 1;
  calls.push_back(std::string("restore ") + address);
  return fail_restore ? 1 : 0;
}

int FakeGateway::request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size) {
  if (!address || !digest) return 1;
  calls.push_back(std::string("upgrade ") + address + " " + std::to_string(size));
  return fail_upgrade ? 1 : 0;
}
