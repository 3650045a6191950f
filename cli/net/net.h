// Gateway transfers: HTTP fetches into memory, TFTP uploads and the two
// trigger requests, all through libcurl's easy interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Process-wide: set by --verbose; every transfer switches libcurl's trace on when non-zero.
extern int verbose;

// Sink of a fetch: the received bytes, exactly as many as arrived (no terminator).
struct ReceiveBuffer {
  std::vector<uint8_t> data;
  uint64_t count() const { return data.size(); }
};

// Source of an upload. The upload reads it through a cursor of its own,
// so the caller's pointer and count are unchanged afterwards.
struct UploadSource {
  const uint8_t* data = nullptr;
  std::size_t count = 0;
};

// GET `url` into `buffer` (cleared first). Absent texts are nullptr.
// 0 when the transfer completed (whatever the HTTP status), 1 otherwise.
int fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer);
// TFTP write of "flashraw.bin" to the gateway. 0 when completed, 1 otherwise.
int tftp_upload(const char* address, const UploadSource* source);
// Asks the gateway to apply the last upload as configuration. 0 when it did.
int request_restore(const char* address);
// Asks the gateway to apply the last upload as firmware with this SHA-256
// digest (32 bytes) and size. 0 when it did.
int request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size);
