// Gateway transfers: HTTP fetches into memory, TFTP uploads and the two
// trigger requests. The actions reach the gateway only through the Gateway
// interface, so that tests can put an in-memory gateway in its place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/buffers.h"
#include "util/reporter.h"

// What became of an exchange with the gateway, a single transfer or a whole
// configuration exchange built on them. Every failure but missing arguments
// has been reported by the time it is returned.
enum class Transfer {
  Done,         // completed (a fetch: whatever the HTTP status; a configuration: fetched and checked, or pushed and its restore started)
  Failed,       // missing arguments, the transfer broke off or was refused, the reply was too large or pointed
                // elsewhere, or the archive failed its check
  Unreachable,  // the gateway did not answer: no connection, or a time limit ran out; every further request would
                // wait the same, so the action ends on this gateway
};

// The four exchanges with a gateway. Absent texts are nullptr.
class Gateway {
 public:
  virtual ~Gateway() = default;
  // GET `url` into `buffer` (cleared first), within the buffer's limit.
  virtual Transfer fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) = 0;
  // TFTP write of "flashraw.bin" to the gateway.
  virtual Transfer tftp_upload(const char* address, const UploadSource* source) = 0;
  // Asks the gateway to apply the last upload as configuration; Done when it did.
  virtual Transfer request_restore(const char* address) = 0;
  // Asks the gateway to apply the last upload as firmware with this SHA-256
  // digest (32 bytes) and size; Done when it did.
  virtual Transfer request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size) = 0;
};

// Limits of every HTTP request. A gateway on the local network connects in
// milliseconds and sends a configuration (a few KiB) in well under a second;
// these leave a slow or busy link ample room yet end a dead or dripping
// request within a minute instead of never.
struct HttpLimits {
  long connect_seconds = 15;    // to make the connection
  long low_speed_bytes = 30;    // a request that moves fewer bytes per second...
  long low_speed_seconds = 30;  // ...for this long is abandoned
  long total_seconds = 60;      // the whole request, redirects included, however it trickles
  long max_redirects = 5;       // each to the gateway itself
};

// Limits of a TFTP upload: a gateway may take a while to prepare its flash
// before the first acknowledgement, and a firmware image of 16 MiB takes
// some 10 s at 512-byte blocks on a slow link.
struct TftpLimits {
  long start_seconds = 60;       // to the first answer
  long low_speed_bytes = 30;     // fewer bytes per second...
  long low_speed_seconds = 60;   // ...for this long end the upload
  long total_seconds = 420;      // the whole upload
};

// The TFTP block size an upload asks for: one Ethernet frame of 1500 bytes
// holds 1468 data bytes after the IP (20), UDP (8) and TFTP (4) headers, so
// each block is one unfragmented datagram. The range is the TFTP option's.
constexpr long TFTP_BLKSIZE_DEFAULT = 1468;
constexpr long TFTP_BLKSIZE_MIN = 8;
constexpr long TFTP_BLKSIZE_MAX = 65464;

// How the transfers run; set from the command line.
struct TransferSettings {
  bool verbose = false;  // libcurl's trace on the reporter's standard error
  // Announcements and failures; libcurl's meter and trace go to its standard
  // error and a firmware upgrade's reply body to its standard output.
  Reporter reporter;
  HttpLimits http{};
  long tftp_blksize = TFTP_BLKSIZE_DEFAULT;  // asked for; the gateway may grant less, or ignore it (512)
  TftpLimits tftp{};
};

// The gateway over libcurl's easy interface.
class CurlGateway : public Gateway {
 public:
  explicit CurlGateway(TransferSettings settings = {}) : settings_(settings) {}
  Transfer fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) override;
  Transfer tftp_upload(const char* address, const UploadSource* source) override;
  Transfer request_restore(const char* address) override;
  Transfer request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size) override;

 private:
  TransferSettings settings_;
};
