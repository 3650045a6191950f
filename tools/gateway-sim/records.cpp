#include "records.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

using Bytes = std::vector<uint8_t>;

void le32(Bytes& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t le32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// CRC-16/MCRF4XX, bit by bit, over the record with its CRC field taken as zero.
uint16_t record_crc(const Bytes& record) {
  uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < record.size(); ++i) {
    crc = static_cast<uint16_t>(crc ^ ((i >= 4 && i < 8) ? 0 : record[i]));
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  return crc;
}

Bytes new_record(uint32_t length, uint32_t version) {
  Bytes b(length, 0);
  le32(b, 0, length);
  le32(b, 8, version);
  le32(b, 12, 3);  // a gateway that has been configured a few times
  return b;
}

void seal(Bytes& b) { le32(b, 4, record_crc(b)); }

// Firmware version texts are compared as byte strings: the last row at or below wins.
unsigned version_for(const std::string& firmware, std::initializer_list<std::pair<const char*, unsigned>> rows) {
  unsigned version = 0;
  for (const auto& [text, value] : rows)
    if (firmware.compare(text) >= 0) version = value;
  return version;
}
unsigned channel_version(const std::string& firmware) {
  return version_for(firmware, {{"1.0.0", 0}, {"1.3.0", 1}, {"1.3.1", 2}, {"1.5.0", 3}});
}
unsigned input_version(const std::string& firmware) {
  return version_for(firmware, {{"1.0.0", 1}, {"1.3.1", 2}, {"2.2.4", 3}});
}

struct ChannelShape {
  uint32_t length, gear, groups, type, name;
};
const ChannelShape* channel_shape(uint32_t version) {
  static const ChannelShape v1{11168, 152, 9788, 42, 94}, v2{10912, 160, 10300, 44, 106}, v3{7072, 100, 6460, 43, 45};
  return version <= 1 ? &v1 : version == 2 ? &v2 : version == 3 ? &v3 : nullptr;
}

uint32_t input_length(uint32_t version) { return version == 2 ? 9436 : version == 3 ? 9564 : 0; }

void text(Bytes& b, std::size_t at, std::size_t room, const char* format, unsigned a, unsigned c = 0) {
  std::snprintf(reinterpret_cast<char*>(&b[at]), room, format, a, c);
}

std::size_t type_data_size(uint8_t type) { return type == 5 ? 3 : type == 6 ? 7 : type == 8 ? 50 : 0; }
std::size_t settings_size(uint8_t type) { return type == 1 ? 6 : type == 3 ? 4 : type == 4 ? 3 : 0; }

}  // namespace

Bytes make_channel_record(unsigned channel, const std::string& firmware) {
  const unsigned version = channel_version(firmware);
  const ChannelShape& shape = *channel_shape(version);
  Bytes b = new_record(shape.length, version);
  const unsigned gears = 4 + 2 * channel;
  const uint8_t types[] = {6, 8, 5, 255};
  for (unsigned i = 0; i < 64; ++i) {
    const std::size_t e = 60 + shape.gear * i;
    const uint8_t type = i < gears ? types[i % 4] : 255;
    if (version >= 2) {
      b[e + shape.type] = type;
      b[e + shape.type + 1] = 255;
      b[e + 11] = version == 3 ? 255 : 0;
    }
    if (i >= gears) continue;
    le32(b, e, 0x3);  // addressed, set up by import
    b[e + 5] = 254, b[e + 6] = 1, b[e + 7] = 254, b[e + 8] = 254;
    b[e + 9] = 7;
    b[e + 11] = static_cast<uint8_t>(2 * i + 1);
    b[e + 18] = static_cast<uint8_t>(1u << (i % 4));
    std::memset(&b[e + 20], 255, 16);
    b[e + 20] = 254;
    b[e + 21] = static_cast<uint8_t>(40 + 20 * i);
    b[e + 36] = 255;
    if (version <= 1) b[e + 42] = type;
    // Device-type data: one shared area in version 1, one area per type in version 2, none in 3.
    const std::size_t data = version <= 1 ? 44 : type == 5 ? 46 : type == 6 ? 49 : 56;
    for (std::size_t k = 0; version <= 2 && k < type_data_size(type); ++k)
      b[e + data + k] = static_cast<uint8_t>(16 * channel + i + k);
    text(b, e + shape.name, 33, "Ch%u Luminaire %02u", channel, i + 1);
  }
  const char* groups[] = {"Office", "Corridor", "Meeting room", "Emergency"};
  for (unsigned g = 0; g < 4; ++g) {
    std::snprintf(reinterpret_cast<char*>(&b[shape.groups + 38 * g]), 33, "%s", groups[g]);
    b[shape.groups + 38 * g + 36] = 255;
  }
  seal(b);
  return b;
}

Bytes make_input_record(unsigned channel, const std::string& firmware) {
  const unsigned version = input_version(firmware);
  if (version < 2) {
    Bytes b = new_record(4096, 1);
    uint32_t state = 0x2545F491u * channel;
    for (std::size_t i = 16; i < b.size(); ++i) b[i] = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
    seal(b);
    return b;
  }
  Bytes b = new_record(input_length(version), version);
  const std::vector<std::vector<uint8_t>> devices = {{1, 1, 1, 1}, {3, 4}, {1, 3, 4, 1}, {2, 1}};
  const std::size_t block_size = version == 3 ? 198 : 194;
  for (unsigned d = 0; d < 3 + channel % 2; ++d) {
    const std::size_t e = 28 + 100 * d, block = 3228 + block_size * d;
    const std::vector<uint8_t>& instances = devices[d];
    le32(b, e, 0x3);
    b[e + 8] = static_cast<uint8_t>(2 * (10 + d) + 1);
    b[e + 10] = static_cast<uint8_t>(instances.size());
    b[e + 13] = 255;
    for (unsigned k = 0; k < instances.size(); ++k) {
      b[e + 16 + 2 * k] = instances[k];
      b[e + 17 + 2 * k] = static_cast<uint8_t>(k);
      // Version 3 gives every instance 6 bytes; version 2 packs each type at its own stride.
      const std::size_t n = settings_size(instances[k]);
      const std::size_t at = version == 3 ? block + 6 + 6 * k : block + n * k;
      for (std::size_t j = 0; j < n; ++j) b[at + j] = static_cast<uint8_t>(32 * d + 6 * k + j + 1);
    }
    b[block + (version == 3 ? 1 : 192)] = static_cast<uint8_t>(0x10 + d);
    text(b, e + 80, 17, "Ch%u Device %u", channel, d + 1);
  }
  seal(b);
  return b;
}

std::string check_restored_file(const std::string& path, const Bytes& content, const std::string& firmware) {
  const bool channel = path.rfind("/etc/config/dali/dali", 0) == 0;
  if (!channel && path.rfind("/etc/config/dali/cd", 0) != 0) return "";
  char reason[160];
  if (content.size() < 16) return "shorter than a record header";
  const uint32_t length = le32(content, 0), version = le32(content, 8);
  if (length != content.size()) {
    std::snprintf(reason, sizeof reason, "length field %u but %zu bytes received", length, content.size());
    return reason;
  }
  // Input-device records of version 1 have no known layout: any length will do.
  const uint32_t expected = channel ? (channel_shape(version) ? channel_shape(version)->length : 0)
                                    : version == 1 ? length : input_length(version);
  if (expected == 0) {
    std::snprintf(reason, sizeof reason, "unknown record version %u", version);
    return reason;
  }
  if (length != expected) {
    std::snprintf(reason, sizeof reason, "version %u records are %u bytes, not %u", version, expected, length);
    return reason;
  }
  if (le32(content, 4) != record_crc(content)) return "CRC mismatch";
  const unsigned wanted = channel_version(firmware);
  if (channel && (version <= 1 ? 1u : version) != (wanted <= 1 ? 1u : wanted)) {
    std::snprintf(reason, sizeof reason, "record version %u, firmware %s takes version %u", version,
                  firmware.c_str(), wanted);
    return reason;
  }
  return "";
}

}  // namespace sim
