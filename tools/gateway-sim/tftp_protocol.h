// TFTP packets (RFC 1350) and option negotiation (RFC 2347, 2348, 2349).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim::tftp {

enum Opcode : uint16_t { kRead = 1, kWrite = 2, kData = 3, kAck = 4, kError = 5, kOptionAck = 6 };
enum ErrorCode : uint16_t {
  kNotDefined = 0,
  kFileNotFound = 1,
  kAccessViolation = 2,
  kDiskFull = 3,
  kIllegalOperation = 4,
  kUnknownTransferId = 5,
  kBadOptions = 8,
};

constexpr std::size_t kDefaultBlockSize = 512;
constexpr std::size_t kMaxBlockSize = 65464;

using OptionList = std::vector<std::pair<std::string, std::string>>;

struct Request {
  uint16_t opcode = 0;
  std::string file;
  std::string mode;
  OptionList options;  // as sent, in order
};

// A read or write request; false when the packet is not a well-formed one.
bool parse_request(const uint8_t* packet, std::size_t length, Request* request);

// What the server agreed to for a write request.
struct Negotiation {
  std::size_t block_size = kDefaultBlockSize;
  unsigned timeout_s = 0;         // 0: the client did not ask
  std::optional<uint64_t> tsize;  // the size the client announced
  OptionList acknowledged;        // the options for the OACK; empty: answer with ACK 0
};
// Negotiates the options of a write request; invalid and unknown options are
// left out of the acknowledgement, as the RFCs allow.
Negotiation negotiate(const OptionList& options);

std::vector<uint8_t> ack_packet(uint16_t block);
std::vector<uint8_t> error_packet(uint16_t code, const std::string& message);
std::vector<uint8_t> option_ack_packet(const OptionList& options);
uint16_t read_u16(const uint8_t* bytes);

}  // namespace sim::tftp
