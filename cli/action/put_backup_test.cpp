#include "action/put_backup.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "records/records.h"
#include "status/status.h"
#include "tar/tar.h"
#include "testing/recording_reporter.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes tar_with(const char* name, const Bytes& data) {
  TarArchive writer;
  tar_memory_writer(&writer);
  tar_write_file_header(&writer, "status.txt", 2);
  tar_write_data(&writer, "{}", 2);
  tar_write_file_header(&writer, name, static_cast<uint32_t>(data.size()));
  if (!data.empty()) tar_write_data(&writer, data.data(), static_cast<uint32_t>(data.size()));
  tar_finalize(&writer);
  return Bytes(writer.memory.begin(), writer.memory.begin() + writer.position);
}

Bytes channel_record(uint32_t version, std::size_t length) {
  Bytes record(length, 0);
  put_le32(record.data(), RecordHeader::LENGTH, static_cast<uint32_t>(length));
  put_le32(record.data(), RecordHeader::VERSION, version);
  put_le32(record.data(), RecordHeader::CHANGE_COUNT, 4);
  for (std::size_t i = 16; i < length; ++i) record[i] = static_cast<uint8_t>(i);
  return record;
}

StatusReport status_with(const char* firmware) {
  StatusReport status;
  status.model_name = "LUMARO-4";
  if (firmware) status.firmware_version = firmware;
  return status;
}

struct Prepared {
  int result;
  Bytes upload;
  std::string printed;
};

Prepared prepare(uint32_t code, const char* firmware, const Bytes& tar) {
  Prepared p;
  const StatusReport status = status_with(firmware);
  const RecordingReporter recorded;
  p.result = prepare_upload(recorded.reporter(), configuration_table[code], status, tar.data(), tar.size(), &p.upload);
  p.printed = recorded.out();
  return p;
}

TEST(PrepareUpload, ConvertedRecordAsTheOnlyMember) {
  const std::time_t before = std::time(nullptr);
  const Prepared p = prepare(2, "1.5.0", tar_with("/etc/config/dali/dali2.bin", channel_record(1, 11168)));
  const std::time_t after = std::time(nullptr);
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.printed, "");
  ASSERT_EQ(p.upload.size(), 512u + 7168u + 1024u);  // header, padded data, end marker

  TarArchive reader;
  tar_memory_reader(&reader, p.upload.data(), p.upload.size());
  TarHeader header;
  ASSERT_EQ(tar_read_header(&reader, &header), TarStatus::Success);
  EXPECT_STREQ(header.name, "/etc/config/dali/dali2.bin");
  EXPECT_EQ(header.mode, 0664u);
  EXPECT_EQ(header.owner, 0u);
  EXPECT_EQ(header.type, '0');
  EXPECT_GE(header.mtime, static_cast<uint32_t>(before));
  EXPECT_LE(header.mtime, static_cast<uint32_t>(after));
  ASSERT_EQ(header.size, 7072u);
  Bytes record(header.size);
  ASSERT_EQ(tar_read_data(&reader, record.data(), header.size), TarStatus::Success);
  const RecordHeader h = read_record_header(record.data());
  EXPECT_EQ(h.version, 3u);
  EXPECT_EQ(h.change_count, 5u);
  ASSERT_EQ(tar_next(&reader), TarStatus::Success);
  EXPECT_EQ(tar_read_header(&reader, &header), TarStatus::NullRecord);
}

TEST(PrepareUpload, SkippedMembersSayWhy) {
  const Bytes record = channel_record(3, 7072);
  struct Case {
    uint32_t code;
    const char* firmware;
    Bytes tar;
    std::string printed;
  };
  Bytes truncated = tar_with("/etc/config/dali/dali1.bin", record);
  truncated.resize(1024 + 3000);
  // Missing members, empty ones, an unknown firmware and downgrades are covered against the stand-in.
  const Case cases[] = {
      {1, "1.5.0", truncated, "action_put_backup\terror reading '/etc/config/dali/dali1.bin'\r\n"},
      {1, "1.5.0", tar_with("/etc/config/dali/dali1.bin", channel_record(1, 11000)),
       "action_put_backup\terror '/etc/config/dali/dali1.bin' not restored: record version 1 has 11168 bytes, this "
       "one 11000\r\n"},
  };
  for (const Case& c : cases) {
    const Prepared p = prepare(c.code, c.firmware, c.tar);
    EXPECT_EQ(p.result, 1) << c.printed;
    EXPECT_TRUE(p.upload.empty()) << c.printed;
    EXPECT_EQ(p.printed, c.printed);
  }
}

}  // namespace
