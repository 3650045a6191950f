// Gateway transfers: HTTP fetches into memory, TFTP uploads and the two
// trigger requests. The actions reach the gateway only through the Gateway
// interface, so that tests can put an in-memory gateway in its place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/buffers.h"
#include "util/reporter.h"

// The four exchanges with a gateway. Absent texts are nullptr.
class Gateway {
 public:
  virtual ~Gateway() = default;
  // GET `url` into `buffer` (cleared first). 0 when the transfer completed
  // (whatever the HTTP status), 1 otherwise.
  virtual int fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) = 0;
  // TFTP write of "flashraw.bin" to the gateway. 0 when completed, 1 otherwise.
  virtual int tftp_upload(const char* address, const UploadSource* source) = 0;
  // Asks the gateway to apply the last upload as configuration. 0 when it did.
  virtual int request_restore(const char* address) = 0;
  // Asks the gateway to apply the last upload as firmware with this SHA-256
  // digest (32 bytes) and size. 0 when it did.
  virtual int request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size) = 0;
};

// How the transfers run; set from the command line.
struct TransferSettings {
  bool verbose = false;  // libcurl's trace on the reporter's standard error
  // Announcements and failures; libcurl's meter and trace go to its standard
  // error and a firmware upgrade's reply body to its standard output.
  Reporter reporter;
};

// The gateway over libcurl's easy interface.
class CurlGateway : public Gateway {
 public:
  explicit CurlGateway(TransferSettings settings = {}) : settings_(settings) {}
  int fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) override;
  int tftp_upload(const char* address, const UploadSource* source) override;
  int request_restore(const char* address) override;
  int request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size) override;

 private:
  TransferSettings settings_;
};
