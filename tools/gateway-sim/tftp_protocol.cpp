#include "tftp_protocol.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace sim::tftp {

namespace {

// Reads one NUL-terminated text at `*pos`; false when the packet ends first.
bool read_text(const uint8_t* packet, std::size_t length, std::size_t* pos, std::string* text) {
  const void* end = std::memchr(packet + *pos, '\0', length - *pos);
  if (!end) return false;
  std::size_t stop = static_cast<std::size_t>(static_cast<const uint8_t*>(end) - packet);
  text->assign(reinterpret_cast<const char*>(packet + *pos), stop - *pos);
  *pos = stop + 1;
  return true;
}

bool parse_unsigned(const std::string& text, uint64_t* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return errno == 0;
}

void put_u16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void put_text(std::vector<uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

}  // namespace

uint16_t read_u16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

bool parse_request(const uint8_t* packet, std::size_t length, Request* request) {
  if (length < 4) return false;
  request->opcode = read_u16(packet);
  if (request->opcode != kRead && request->opcode != kWrite) return false;
  std::size_t pos = 2;
  if (!read_text(packet, length, &pos, &request->file) || !read_text(packet, length, &pos, &request->mode)) return false;
  if (request->file.empty()) return false;
  request->options.clear();
  while (pos < length) {
    std::string name, value;
    if (!read_text(packet, length, &pos, &name) || !read_text(packet, length, &pos, &value)) return false;
    request->options.emplace_back(std::move(name), std::move(value));
  }
  return true;
}

Negotiation negotiate(const OptionList& options) {
  Negotiation result;
  for (const auto& [name, value] : options) {
    uint64_t number = 0;
    if (!parse_unsigned(value, &number)) continue;
    if (strcasecmp(name.c_str(), "blksize") == 0 && number >= 8) {
      // A larger request is answered with the largest size we take (RFC 2348).
      result.block_size = number > kMaxBlockSize ? kMaxBlockSize : static_cast<std::size_t>(number);
      result.acknowledged.emplace_back(name, std::to_string(result.block_size));
    } else if (strcasecmp(name.c_str(), "timeout") == 0 && number >= 1 && number <= 255) {
      result.timeout_s = static_cast<unsigned>(number);
      result.acknowledged.emplace_back(name, value);
    } else if (strcasecmp(name.c_str(), "tsize") == 0) {
      result.tsize = number;
      result.acknowledged.emplace_back(name, value);
    }
  }
  return result;
}

std::vector<uint8_t> ack_packet(uint16_t block) {
  std::vector<uint8_t> out;
  put_u16(out, kAck);
  put_u16(out, block);
  return out;
}

std::vector<uint8_t> error_packet(uint16_t code, const std::string& message) {
  std::vector<uint8_t> out;
  put_u16(out, kError);
  put_u16(out, code);
  put_text(out, message);
  return out;
}

std::vector<uint8_t> option_ack_packet(const OptionList& options) {
  std::vector<uint8_t> out;
  put_u16(out, kOptionAck);
  for (const auto& [name, value] : options) {
    put_text(out, name);
    put_text(out, value);
  }
  return out;
}

}  // namespace sim::tftp
