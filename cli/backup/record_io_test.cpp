#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "records/records.h"
#include "tar/tar.h"
#include "testing/recording_reporter.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Member {
  std::string name;
  Bytes data;
};

Bytes tar_of(const std::vector<Member>& members) {
  TarArchive writer;
  tar_memory_writer(&writer);
  for (const Member& m : members) {
    EXPECT_EQ(tar_write_file_header(&writer, m.name.c_str(), static_cast<uint32_t>(m.data.size())), TarStatus::Success);
    if (!m.data.empty()) {
      EXPECT_EQ(tar_write_data(&writer, m.data.data(), static_cast<uint32_t>(m.data.size())), TarStatus::Success);
    }
  }
  EXPECT_EQ(tar_finalize(&writer), TarStatus::Success);
  return Bytes(writer.memory.begin(), writer.memory.begin() + writer.position);
}

// The bytes of member `name` in a finished archive, or "absent".
bool member_of(const Bytes& archive, const char* name, Bytes* out) {
  TarArchive reader;
  tar_memory_reader(&reader, archive.data(), archive.size());
  TarHeader header;
  if (tar_find(&reader, name, &header) != TarStatus::Success) return false;
  out->assign(header.size, 0);
  return header.size == 0 || tar_read_data(&reader, out->data(), header.size) == TarStatus::Success;
}

FetchedConfiguration fetched_with(const std::vector<Member>& members, const char* firmware) {
  FetchedConfiguration f;
  f.buffer.data = tar_of(members);
  if (firmware) f.firmware_version = firmware;
  return f;
}

Bytes patterned(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + 1);
  return b;
}

struct Read {
  RecordRead result;
  Bytes image;
  std::string printed;
};

Read read_channel(const FetchedConfiguration& f, unsigned channel) {
  Read r{RecordRead::MissingArgument, Bytes(ChannelRecord::IMAGE_SIZE, 0xCC), ""};
  const RecordingReporter recorded;
  r.result = read_channel_record(recorded.reporter(), &f, channel, r.image.data());
  r.printed = recorded.out();
  return r;
}

TEST(ReadChannelRecord, CopiesTheMemberAndCutsLongOnes) {
  const Bytes record = patterned(12000);
  const Read r = read_channel(fetched_with({{"status.txt", {'{', '}'}}, {"/etc/config/dali/dali3.bin", record}},
                                          "1.5.0"),
                              3);
  EXPECT_EQ(r.result, RecordRead::Read);
  EXPECT_EQ(r.printed, "");
  EXPECT_EQ(r.image, Bytes(record.begin(), record.begin() + 11168));

  const Read small = read_channel(fetched_with({{"/etc/config/dali/dali1.bin", patterned(7072)}}, "1.5.0"), 1);
  EXPECT_EQ(small.result, RecordRead::Read);
  EXPECT_EQ(Bytes(small.image.begin(), small.image.begin() + 7072), patterned(7072));
  EXPECT_EQ(small.image[7072], 0);  // the rest of the image is cleared
}

TEST(ReadChannelRecord, FailuresLeaveAClearedImage) {
  const Read missing = read_channel(fetched_with({{"/etc/config/dali/dali1.bin", patterned(100)}}, "1.5.0"), 2);
  EXPECT_EQ(missing.result, RecordRead::NotFound);
  EXPECT_EQ(missing.printed, "backup\terror '/etc/config/dali/dali2.bin' file not found.\r\n");
  EXPECT_EQ(missing.image, Bytes(ChannelRecord::IMAGE_SIZE, 0));

  const Read empty = read_channel(fetched_with({{"/etc/config/dali/dali4.bin", {}}}, "1.5.0"), 4);
  EXPECT_EQ(empty.result, RecordRead::NotFound);
  EXPECT_EQ(empty.printed, "backup\terror '/etc/config/dali/dali4.bin' file size error\r\n");
  EXPECT_EQ(empty.image, Bytes(ChannelRecord::IMAGE_SIZE, 0));

  // A body cut inside the member's data.
  FetchedConfiguration cut = fetched_with({{"/etc/config/dali/dali1.bin", patterned(7072)}}, "1.5.0");
  cut.buffer.data.resize(512 + 1000);
  const Read truncated = read_channel(cut, 1);
  EXPECT_EQ(truncated.result, RecordRead::Unreadable);
  EXPECT_EQ(truncated.printed, "backup\terror reading '/etc/config/dali/dali1.bin'\r\n");
  EXPECT_EQ(truncated.image, Bytes(ChannelRecord::IMAGE_SIZE, 0));
}

struct Written {
  RecordWrite result;
  Bytes member;
};

Written write_channel(const char* firmware, unsigned channel, Bytes image) {
  FetchedConfiguration f;
  f.firmware_version = firmware;
  TarArchive writer;
  tar_memory_writer(&writer);
  Written w{write_channel_record(Reporter{}, &writer, &f, channel, image.data()), {}};
  tar_finalize(&writer);
  const Bytes archive(writer.memory.begin(), writer.memory.begin() + writer.position);
  const std::string name = "/etc/config/dali/dali" + std::to_string(channel) + ".bin";
  EXPECT_TRUE(member_of(archive, name.c_str(), &w.member)) << name;
  return w;
}

void expect_sealed(const Bytes& record) {
  ASSERT_GE(record.size(), 16u);
  EXPECT_EQ(record[6], 0);
  EXPECT_EQ(record[7], 0);
  Bytes zeroed = record;
  std::memset(&zeroed[4], 0, 4);
  EXPECT_EQ(record_crc16(zeroed.data(), zeroed.size()), get_le32(record.data(), 4));
}

TEST(WriteChannelRecord, LayoutOfTheFirmwaresVersion) {
  struct Case {
    const char* firmware;
    uint32_t version;
    std::size_t length;
  };
  for (const Case c : {Case{"1.2.9", 1, 11168}, Case{"1.3.0", 1, 11168}, Case{"1.4.2", 2, 10912},
                       Case{"1.5.0", 3, 7072}, Case{"2.2.4", 3, 7072}}) {
    // A zero length field (an image built from nothing) goes out as the layout's length.
    Bytes image = patterned(ChannelRecord::IMAGE_SIZE);
    put_le32(image.data(), 0, 0);
    put_le32(image.data(), 12, 77);
    const Written w = write_channel(c.firmware, 2, image);
    EXPECT_EQ(w.result, RecordWrite::Written);
    ASSERT_EQ(w.member.size(), c.length) << c.firmware;
    EXPECT_EQ(get_le32(w.member.data(), 0), c.length);
    EXPECT_EQ(get_le32(w.member.data(), 8), c.version) << c.firmware;
    EXPECT_EQ(get_le32(w.member.data(), 12), 77u);  // change_count is not a writer's business
    EXPECT_TRUE(std::equal(w.member.begin() + 16, w.member.end(), image.begin() + 16));
    expect_sealed(w.member);
  }
}

TEST(RecordIo, MissingArgumentsTouchNothing) {
  FetchedConfiguration f = fetched_with({{"/etc/config/dali/dali1.bin", patterned(10)}}, nullptr);
  Bytes image(ChannelRecord::IMAGE_SIZE, 0xCC);
  TarArchive writer;
  tar_memory_writer(&writer);
  EXPECT_EQ(write_channel_record(Reporter{}, &writer, &f, 1, image.data()),
            RecordWrite::MissingArgument);  // no firmware version
  EXPECT_EQ(write_input_record(Reporter{}, &writer, &f, 1, image.data()), RecordWrite::MissingArgument);
  f.firmware_version = "1.5.0";
  EXPECT_EQ(write_channel_record(Reporter{}, &writer, &f, 0, image.data()), RecordWrite::MissingArgument);
  EXPECT_EQ(write_channel_record(Reporter{}, nullptr, &f, 1, image.data()), RecordWrite::MissingArgument);
  EXPECT_EQ(write_input_record(Reporter{}, &writer, &f, 0, image.data()), RecordWrite::MissingArgument);
  EXPECT_EQ(read_channel_record(Reporter{}, &f, 0, image.data()), RecordRead::MissingArgument);
  EXPECT_EQ(read_channel_record(Reporter{}, nullptr, 1, image.data()), RecordRead::MissingArgument);
  EXPECT_EQ(read_channel_record(Reporter{}, &f, 1, nullptr), RecordRead::MissingArgument);
  const FetchedConfiguration empty;
  EXPECT_EQ(read_channel_record(Reporter{}, &empty, 1, image.data()), RecordRead::MissingArgument);
  EXPECT_EQ(writer.position, 0u);
  EXPECT_EQ(image, Bytes(ChannelRecord::IMAGE_SIZE, 0xCC));
}

TEST(WriteInputRecord, VersionThreeMember) {
  FetchedConfiguration f;
  f.firmware_version = "1.5.0";
  Bytes image = patterned(InputDeviceRecord::IMAGE_SIZE);
  TarArchive writer;
  tar_memory_writer(&writer);
  ASSERT_EQ(write_input_record(Reporter{}, &writer, &f, 2, image.data()), RecordWrite::Written);
  tar_finalize(&writer);
  const Bytes archive(writer.memory.begin(), writer.memory.begin() + writer.position);
  Bytes member;
  ASSERT_TRUE(member_of(archive, "/etc/config/dali/cd2.bin", &member));
  ASSERT_EQ(member.size(), 9564u);
  EXPECT_EQ(get_le32(member.data(), 0), 9564u);
  EXPECT_EQ(get_le32(member.data(), 8), 3u);
  EXPECT_TRUE(std::equal(member.begin() + 12, member.end(), image.begin() + 12));
  expect_sealed(member);
}

TEST(WriteInputRecord, OlderFirmwareStopsTheRun) {
  FetchedConfiguration f;
  f.firmware_version = "1.3.1";
  Bytes image(InputDeviceRecord::IMAGE_SIZE, 0);
  TarArchive writer;
  tar_memory_writer(&writer);
  const RecordingReporter recorded;
  EXPECT_EQ(write_input_record(recorded.reporter(), &writer, &f, 1, image.data()), RecordWrite::VersionRefused);
  EXPECT_EQ(recorded.out(), "backup\terror version 1.3.1 not supported.\r\n");
  EXPECT_EQ(writer.position, 0u);
}

}  // namespace
