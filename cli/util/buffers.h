// The byte buffers that pass between the gateway transfers and the codecs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The most a reply may hold unless its sink says otherwise: status and
// trigger replies are JSON or HTML pages of a few hundred bytes.
constexpr std::size_t REPLY_LIMIT = std::size_t{64} << 10;

// Sink of a fetch: the received bytes, exactly as many as arrived (no
// terminator). A reply that runs past `limit` bytes is abandoned.
struct ReceiveBuffer {
  std::vector<uint8_t> data;
  std::size_t limit = REPLY_LIMIT;
  uint64_t count() const { return data.size(); }
};

// Source of an upload. The upload reads it through a cursor of its own,
// so the caller's pointer and count are unchanged afterwards.
struct UploadSource {
  const uint8_t* data = nullptr;
  std::size_t count = 0;
};
