#include <cstring>

#include "records/records.h"

RecordHeader read_record_header(const uint8_t* record) {
  RecordHeader header;
  header.length = get_le32(record, RecordHeader::LENGTH);
  header.crc = get_le32(record, RecordHeader::CRC);
  header.version = get_le32(record, RecordHeader::VERSION);
  header.change_count = get_le32(record, RecordHeader::CHANGE_COUNT);
  return header;
}

uint16_t crc16_update(uint16_t crc, uint8_t byte) {
  const unsigned c = (byte ^ crc) & 0xFFu;
  const unsigned low = c & 0x0Fu;
  return static_cast<uint16_t>(((c << 8) ^ (crc >> 8u) ^ (c << 3) ^ ((c >> 4) | (c << 12)) ^ low ^ (low << 7)) &
                               0xFFFFu);
}

uint16_t record_crc16(const uint8_t* data, std::size_t count) {
  uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < count; ++i) crc = crc16_update(crc, data[i]);
  return crc;
}

void seal_record(uint8_t* record, std::size_t length) {
  put_le32(record, RecordHeader::CRC, 0);
  put_le32(record, RecordHeader::CRC, record_crc16(record, length));
}

const ChannelLayout* channel_layout(uint32_t version) {
  switch (version) {
    case 0:
    case 1: return &CHANNEL_V1;
    case 2: return &CHANNEL_V2;
    case 3: return &CHANNEL_V3;
    default: return nullptr;
  }
}

namespace {

struct VersionRow {
  const char* firmware;
  uint32_t version;
};

// The value of the last row whose firmware text is byte-wise <= the given one.
// strcmp compares as unsigned char, which is the byte order wanted here.
template <std::size_t N>
uint32_t look_up_version(const VersionRow (&table)[N], const char* firmware_version) {
  uint32_t version = 0;
  if (!firmware_version) return version;
  for (const VersionRow& row : table)
    if (std::strcmp(row.firmware, firmware_version) <= 0) version = row.version;
  return version;
}

constexpr VersionRow CHANNEL_VERSIONS[] = {{"1.0.0", 0}, {"1.3.0", 1}, {"1.3.1", 2}, {"1.5.0", 3}};
constexpr VersionRow INPUT_VERSIONS[] = {{"1.0.0", 0}, {"1.3.1", 2}, {"2.2.4", 3}};

}  // namespace

uint32_t channel_record_version(const char* firmware_version) {
  return look_up_version(CHANNEL_VERSIONS, firmware_version);
}

uint32_t input_record_version(const char* firmware_version) {
  return look_up_version(INPUT_VERSIONS, firmware_version);
}
