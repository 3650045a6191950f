// The byte buffers that pass between the gateway transfers and the codecs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Sink of a fetch: the received bytes, exactly as many as arrived (no terminator).
struct ReceiveBuffer {
  std::vector<uint8_t> data;
  long http_status = 0;  // of the reply, 0 when none arrived
  uint64_t count() const { return data.size(); }
};

// Source of an upload. The upload reads it through a cursor of its own,
// so the caller's pointer and count are unchanged afterwards.
struct UploadSource {
  const uint8_t* data = nullptr;
  std::size_t count = 0;
};
