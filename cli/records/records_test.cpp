#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "records/records.h"

namespace {

uint16_t crc_of(const std::string& s) {
  return record_crc16(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(RecordCrc, CheckValues) {
  EXPECT_EQ(crc_of("123456789"), 0x6F91);
  EXPECT_EQ(crc_of("abc"), 0x61DA);
  EXPECT_EQ(crc_of(""), 0xFFFF);
}

TEST(RecordCrc, ByteStepMatchesBitwiseReflectedCrc) {
  // The table-free byte step must agree with the plain bit-by-bit definition.
  for (unsigned crc : {0x0000u, 0xFFFFu, 0x1234u, 0x8408u, 0xBEEFu}) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      unsigned expected = crc ^ byte;
      for (int bit = 0; bit < 8; ++bit) expected = expected & 1 ? (expected >> 1) ^ 0x8408 : expected >> 1;
      ASSERT_EQ(crc16_update(static_cast<uint16_t>(crc), static_cast<uint8_t>(byte)), expected)
          << std::hex << crc << " " << byte;
    }
  }
}

TEST(RecordCrc, SealStoresCrcOverRecordWithCrcFieldZero) {
  std::vector<uint8_t> record(7072);
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 31 + 7);
  seal_record(record.data(), record.size());
  EXPECT_EQ(record[6], 0);
  EXPECT_EQ(record[7], 0);
  const uint32_t stored = get_le32(record.data(), 4);
  std::vector<uint8_t> check = record;
  std::memset(&check[4], 0, 4);
  EXPECT_EQ(record_crc16(check.data(), check.size()), stored);
  // Sealing again gives the same value: the old CRC does not feed into the new one.
  seal_record(record.data(), record.size());
  EXPECT_EQ(get_le32(record.data(), 4), stored);
}

TEST(RecordHeaderFields, LittleEndianAtFixedOffsets) {
  const uint8_t bytes[16] = {0xA0, 0x1B, 0, 0, 0x34, 0x12, 0, 0, 3, 0, 0, 0, 0x01, 0x02, 0x03, 0x04};
  const RecordHeader h = read_record_header(bytes);
  EXPECT_EQ(h.length, 7072u);
  EXPECT_EQ(h.crc, 0x1234u);
  EXPECT_EQ(h.version, 3u);
  EXPECT_EQ(h.change_count, 0x04030201u);
}

// Firmware texts compare as bytes: "1.10.0" sorts below "1.3.0", a prefix
// below the longer text, and "10.0" between "1.3.1" and "2.2.4".
TEST(RecordVersions, TablesCompareBytewise) {
  struct Row {
    const char* firmware;
    uint32_t channel, input;
  };
  const Row rows[] = {{"", 0, 0},        {"0.9", 0, 0},    {"1.0.0", 0, 0},  {"1.10.0", 0, 0}, {"1.2.9", 0, 0},
                      {"1.3.0", 1, 0},   {"1.3.1", 2, 2},  {"1.4.2", 2, 2},  {"1.5", 2, 2},    {"1.5.0", 3, 2},
                      {"10.0", 3, 2},    {"2.2.3", 3, 2},  {"2.10.0", 3, 2}, {"2.2.4", 3, 3},  {"9", 3, 3}};
  for (const Row& row : rows) {
    EXPECT_EQ(channel_record_version(row.firmware), row.channel) << row.firmware;
    EXPECT_EQ(input_record_version(row.firmware), row.input) << row.firmware;
  }
  EXPECT_EQ(channel_record_version(nullptr), 0u);
  EXPECT_EQ(input_record_version(nullptr), 0u);
}

TEST(ChannelLayouts, TablesEndWhereTheTrailingWordBegins) {
  for (const ChannelLayout* l : {&CHANNEL_V1, &CHANNEL_V2, &CHANNEL_V3}) {
    const std::size_t groups_end = group_entry_offset(*l, 16);
    const std::size_t extra_end = l->extra_table ? extra_block_offset(*l, 64) : groups_end;
    EXPECT_EQ(gear_entry_offset(*l, 64), l->group_table) << l->version;
    EXPECT_EQ(extra_end, trailing_word_offset(*l)) << l->version;
    EXPECT_LE(l->closing + 16, l->gear_size) << l->version;
  }
  EXPECT_EQ(channel_layout(0), &CHANNEL_V1);
  EXPECT_EQ(channel_layout(1), &CHANNEL_V1);
  EXPECT_EQ(channel_layout(3), &CHANNEL_V3);
  EXPECT_EQ(channel_layout(4), nullptr);
  EXPECT_EQ(instance_block_offset(INPUT_V2, 32), INPUT_V2.length);
  EXPECT_EQ(instance_block_offset(INPUT_V3, 32), INPUT_V3.length);
}

}  // namespace
