#include "testing/fake_gateway.h"

namespace {

Transfer failed_if(bool fail) { return fail ? Transfer::Failed : Transfer::Done; }

}  // namespace

Transfer FakeGateway::fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) {
  if (!tag || !url || !buffer) return Transfer::Failed;
  buffer->data.clear();
  calls.push_back(std::string("fetch ") + url);
  const auto reply = replies.find(url);
  if (reply == replies.end()) return unreachable ? Transfer::Unreachable : Transfer::Failed;
  buffer->data = reply->second;
  return Transfer::Done;
}

Transfer FakeGateway::tftp_upload(const char* address, const UploadSource* source) {
  if (!address || !source || !source->data || source->count == 0) return Transfer::Failed;
  calls.push_back(std::string("upload ") + address + " " + std::to_string(source->count));
  uploads.emplace_back(source->data, source->data + source->count);
  return failed_if(fail_upload);
}

Transfer FakeGateway::request_restore(const char* address) {
  if (!address) return Transfer::Failed;
  calls.push_back(std::string("restore ") + address);
  return failed_if(fail_restore);
}

Transfer FakeGateway::request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size) {
  if (!address || !digest) return Transfer::Failed;
  calls.push_back(std::string("upgrade ") + address + " " + std::to_string(size));
  return failed_if(fail_upgrade);
}
