// An in-memory gateway for the actions' tests: fetches answered from a table
// of replies, uploads and requests recorded, no process and no port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "net/net.h"

class FakeGateway : public Gateway {
 public:
  // Reply bodies by URL; a URL without a reply fails like a broken transfer,
  // or, with `unreachable`, like a gateway that is not there.
  std::map<std::string, std::vector<uint8_t>> replies;
  // Operations that fail as a transfer would.
  bool unreachable = false;
  bool fail_upload = false, fail_restore = false, fail_upgrade = false;

  // One line per call, in order: "fetch <url>", "upload <address> <bytes>",
  // "restore <address>", "upgrade <address> <size>".
  std::vector<std::string> calls;
  // The bytes of every upload, in order.
  std::vector<std::vector<uint8_t>> uploads;

  Transfer fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) override;
  Transfer tftp_upload(const char* address, const UploadSource* source) override;
  Transfer request_restore(const char* address) override;
  Transfer request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size) override;
};
