#include "tar/tar.h"
#include "testing/tar_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Member = std::pair<std::string, Bytes>;

Bytes pattern(std::size_t size, uint8_t seed = 1) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 7);
  return out;
}

Bytes build(const std::vector<Member>& members) { return build_archive(members); }

// Names and sizes of the listing, then the status that ended it.
std::string listing(const Bytes& archive) {
  TarArchive tar;
  tar_memory_reader(&tar, archive.data(), archive.size());
  std::string out;
  TarHeader header;
  TarStatus status;
  while ((status = tar_read_header(&tar, &header)) == TarStatus::Success) {
    out += std::string(header.name) + ":" + std::to_string(header.size) + " ";
    if ((status = tar_next(&tar)) != TarStatus::Success) break;
  }
  return out + std::to_string(tar_code(status));
}

// Recomputes a header block's checksum the way every tar reader does.
unsigned checksum_of(const uint8_t* block) {
  unsigned sum = 0;
  for (int i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : block[i];
  return sum;
}

std::string field(const Bytes& archive, std::size_t offset, std::size_t width) {
  return std::string(reinterpret_cast<const char*>(archive.data() + offset), width);
}

TEST(TarWriter, HeaderOfTheDaliChannelExample) {
  const Bytes archive = build({{"/etc/config/dali/dali1.bin", pattern(7072)}});
  ASSERT_EQ(archive.size(), 8704u);
  EXPECT_EQ(field(archive, 0, 27), std::string("/etc/config/dali/dali1.bin\0", 27));
  EXPECT_EQ(field(archive, 100, 8), std::string("664\0\0\0\0\0", 8));
  EXPECT_EQ(field(archive, 108, 8), std::string("0\0\0\0\0\0\0\0", 8));
  EXPECT_EQ(field(archive, 116, 8), std::string(8, '\0'));
  EXPECT_EQ(field(archive, 124, 12), std::string("15640\0\0\0\0\0\0\0", 12));
  EXPECT_EQ(field(archive, 136, 12), std::string("0\0\0\0\0\0\0\0\0\0\0\0", 12));
  EXPECT_EQ(archive[156], '0');
  EXPECT_EQ(field(archive, 157, 355), std::string(355, '\0'));
  char expected[8];
  std::snprintf(expected, sizeof expected, "%06o", checksum_of(archive.data()));
  EXPECT_EQ(field(archive, 148, 8), std::string(expected, 6) + std::string("\0 ", 2));
  EXPECT_EQ(Bytes(archive.begin() + 512, archive.begin() + 512 + 7072), pattern(7072));
  EXPECT_EQ(Bytes(archive.begin() + 512 + 7072, archive.end()), Bytes(8704 - 512 - 7072, 0));
}

TEST(TarWriter, MembersArePaddedToWholeBlocksAndEndWithTwoNullBlocks) {
  for (const auto& [size, taken] : std::vector<std::pair<uint32_t, std::size_t>>{
           {0, 512}, {1, 1024}, {511, 1024}, {512, 1024}, {513, 1536}, {1024, 1536}}) {
    SCOPED_TRACE(size);
    const Bytes archive = build({{"a", pattern(size)}, {"b", pattern(3)}});
    EXPECT_EQ(archive.size(), taken + 1024 + 1024);
    EXPECT_EQ(listing(archive), "a:" + std::to_string(size) + " b:3 -7");
    TarArchive tar;
    tar_memory_reader(&tar, archive.data(), archive.size());
    ASSERT_EQ(tar_next(&tar), TarStatus::Success);
    EXPECT_EQ(tar.position, taken);
  }
}

TEST(TarWriter, NoPaddingIsWrittenForWholeBlocks) {
  TarArchive tar;
  tar_memory_writer(&tar);
  const Bytes data = pattern(1024);
  ASSERT_EQ(tar_write_file_header(&tar, "m", 1024), TarStatus::Success);
  ASSERT_EQ(tar_write_data(&tar, data.data(), 512), TarStatus::Success);
  EXPECT_EQ(tar.position, 1024u);
  ASSERT_EQ(tar_write_data(&tar, data.data() + 512, 512), TarStatus::Success);
  EXPECT_EQ(tar.position, 1536u);
  EXPECT_EQ(tar.memory.size(), 1536u);
}

TEST(TarWriter, RefusesWhatCannotBeRepresented) {
  TarArchive tar;
  tar_memory_writer(&tar);
  EXPECT_EQ(tar_write_file_header(&tar, std::string(101, 'n').c_str(), 1), TarStatus::Failure);
  EXPECT_EQ(tar_write_file_header(&tar, nullptr, 1), TarStatus::Failure);
  TarHeader header;
  header.mode = 010000000;  // eight octal digits do not fit the field
  EXPECT_EQ(tar_write_header(&tar, &header), TarStatus::Failure);
  EXPECT_EQ(tar.position, 0u);
  // A member longer than its header announced would make the archive unreadable.
  ASSERT_EQ(tar_write_file_header(&tar, "m", 4), TarStatus::Success);
  EXPECT_EQ(tar_write_data(&tar, "12345", 5), TarStatus::Failure);
  EXPECT_EQ(tar.position, 512u);
  // A reader handle cannot write.
  TarArchive reader;
  tar_memory_reader(&reader, tar.memory.data(), tar.memory.size());
  EXPECT_EQ(tar_write_file_header(&reader, "m", 1), TarStatus::Failure);
}

TEST(TarWriter, HundredCharacterNameUsesTheWholeField) {
  const std::string name(100, 'x');
  const Bytes archive = build({{name, pattern(3)}});
  EXPECT_EQ(archive[100], '6');  // the mode follows the name without a terminator
  EXPECT_EQ(listing(archive), name + ":3 -7");
}

TEST(TarReader, NullRecordEndsListingAndSearchEvenWithDataBehind) {
  Bytes archive = build({{"first", pattern(10)}});
  const Bytes more = build({{"status.txt", pattern(5)}});
  archive.resize(1024 + 512);  // first member, then one null block
  archive.insert(archive.end(), more.begin(), more.end());
  EXPECT_EQ(listing(archive), "first:10 -7");
  TarArchive tar;
  tar_memory_reader(&tar, archive.data(), archive.size());
  EXPECT_EQ(tar_find(&tar, "status.txt", nullptr), TarStatus::NotFound);
  EXPECT_EQ(tar_find(&tar, "first", nullptr), TarStatus::Success);
}

TEST(TarReader, DamagedHeadersAreRejected) {
  Bytes archive = build({{"a", pattern(10)}, {"b", pattern(10)}});
  archive[1024 + 150] ^= 1;  // second header: checksum digit changed
  EXPECT_EQ(listing(archive), "a:10 -6");
  archive[1024 + 150] ^= 1;
  archive[1024 + 3] = 'z';  // second header: name changed behind the checksum's back
  EXPECT_EQ(listing(archive), "a:10 -6");
  TarArchive tar;
  tar_memory_reader(&tar, archive.data(), archive.size());
  EXPECT_EQ(tar_find(&tar, "b", nullptr), TarStatus::BadChecksum);
  // An HTML error page is no header.
  std::string page = "<html><body>404 Not Found</body></html>";
  page.resize(600, ' ');
  EXPECT_EQ(listing(Bytes(page.begin(), page.end())), "-6");
}

TEST(TarReader, ReadsPastTheBufferFailInsteadOfOverrunning) {
  const Bytes archive = build({{"config.bin", pattern(2000)}, {"status.txt", pattern(20)}});
  // Cut inside the second header, inside the first member's data, and before any header.
  for (const std::size_t cut : {2560u + 100u, 512u + 1000u, 511u, 1u}) {
    SCOPED_TRACE(cut);
    const Bytes truncated(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(cut));
    TarArchive tar;
    tar_memory_reader(&tar, truncated.data(), truncated.size());
    EXPECT_EQ(tar_find(&tar, "status.txt", nullptr), TarStatus::ReadFailed);
  }
  const Bytes body(archive.begin(), archive.begin() + 1024);  // header and half the data
  TarArchive tar;
  tar_memory_reader(&tar, body.data(), body.size());
  Bytes data(2000);
  ASSERT_EQ(tar_find(&tar, "config.bin", nullptr), TarStatus::Success);
  EXPECT_EQ(tar_read_data(&tar, data.data(), 2000), TarStatus::ReadFailed);
  EXPECT_EQ(listing(body), "config.bin:2000 -3");
  TarArchive empty;
  tar_memory_reader(&empty, nullptr, 0);
  TarHeader header;
  EXPECT_EQ(tar_read_header(&empty, &header), TarStatus::Failure);
}

TEST(TarReader, FindMatchesWholeNamesOnly) {
  const Bytes archive = build({{"status.txt.bak", pattern(1)},
                               {"/status.txt", pattern(2)},
                               {"Status.txt", pattern(3)},
                               {"status.tx", pattern(4)},
                               {"status.txt", pattern(5)}});
  TarArchive tar;
  tar_memory_reader(&tar, archive.data(), archive.size());
  TarHeader header;
  ASSERT_EQ(tar_find(&tar, "status.txt", &header), TarStatus::Success);
  EXPECT_EQ(header.size, 5u);
  EXPECT_EQ(tar.position, 4u * 1024u);
  EXPECT_EQ(tar_find(&tar, "status", &header), TarStatus::NotFound);
  EXPECT_EQ(tar_find(&tar, "", nullptr), TarStatus::NotFound);
}

TEST(TarReader, ReadDataReturnsToTheHeaderSoAMemberCanBeReadAgain) {
  const Bytes archive = build({{"a", pattern(700, 3)}, {"b", pattern(40, 9)}, {"empty", {}}});
  TarArchive tar;
  tar_memory_reader(&tar, archive.data(), archive.size());
  TarHeader header;
  ASSERT_EQ(tar_find(&tar, "b", &header), TarStatus::Success);
  for (int round = 0; round < 2; ++round) {
    Bytes data(header.size);
    ASSERT_EQ(tar_read_data(&tar, data.data(), header.size), TarStatus::Success);
    EXPECT_EQ(data, pattern(40, 9));
    EXPECT_EQ(tar.position, 1536u);
  }
  // In two parts: the second read continues where the first stopped.
  ASSERT_EQ(tar_find(&tar, "a", &header), TarStatus::Success);
  Bytes data(700);
  ASSERT_EQ(tar_read_data(&tar, data.data(), 300), TarStatus::Success);
  EXPECT_EQ(tar.remaining, 400u);
  ASSERT_EQ(tar_read_data(&tar, data.data() + 300, 400), TarStatus::Success);
  EXPECT_EQ(data, pattern(700, 3));
  ASSERT_EQ(tar_next(&tar), TarStatus::Success);
  ASSERT_EQ(tar_read_header(&tar, &header), TarStatus::Success);
  EXPECT_STREQ(header.name, "b");
  // Asking for more than the member holds fails and leaves the position at the header.
  ASSERT_EQ(tar_find(&tar, "b", &header), TarStatus::Success);
  Bytes big(41);
  EXPECT_EQ(tar_read_data(&tar, big.data(), 41), TarStatus::Failure);
  EXPECT_EQ(tar.position, 1536u);
  EXPECT_EQ(tar.remaining, 0u);
  ASSERT_EQ(tar_find(&tar, "empty", &header), TarStatus::Success);
  EXPECT_EQ(tar_read_data(&tar, big.data(), 0), TarStatus::Success);
  EXPECT_EQ(tar.position, 2560u);
}

TEST(TarReader, HeaderFieldsAreScannedLikeOctalText) {
  Bytes archive = build({{"f", pattern(9)}});
  // Leading blanks and zeros and a trailing space as other writers produce them.
  std::memcpy(archive.data() + 100, " 0000644 ", 8);
  std::memcpy(archive.data() + 108, "0001750", 8);
  std::memcpy(archive.data() + 136, "14712345670 ", 12);
  archive[156] = '5';
  std::memcpy(archive.data() + 157, "target", 6);
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%06o", checksum_of(archive.data()));
  std::memcpy(archive.data() + 148, checksum, 7);
  TarArchive tar;
  tar_memory_reader(&tar, archive.data(), archive.size());
  TarHeader header;
  ASSERT_EQ(tar_read_header(&tar, &header), TarStatus::Success);
  EXPECT_EQ(header.mode, 0644u);
  EXPECT_EQ(header.owner, 01750u);
  EXPECT_EQ(header.mtime, 014712345670u);
  EXPECT_EQ(header.size, 9u);
  EXPECT_EQ(header.type, '5');
  EXPECT_STREQ(header.link_name, "target");
  EXPECT_EQ(tar.position, 0u);
  EXPECT_EQ(tar.last_header, 0u);
}

TEST(TarReader, HugeSizeCannotWrapTheListingBackToAnEarlierHeader) {
  Bytes archive = build({{"a", pattern(1)}});
  // 37777777000 octal: the next header would lie exactly 4 GiB further, i.e. at 0 again.
  std::memcpy(archive.data() + 124, "37777777000", 12);
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%06o", checksum_of(archive.data()));
  std::memcpy(archive.data() + 148, checksum, 7);
  EXPECT_EQ(listing(archive), "a:4294966784 -5");
  TarArchive tar;
  tar_memory_reader(&tar, archive.data(), archive.size());
  EXPECT_EQ(tar_find(&tar, "b", nullptr), TarStatus::SeekFailed);
}

class TarFile : public ::testing::Test {
 protected:
  std::string path = std::string(VARNU_BUILD_DIR) + "/tar_test_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".tar";
  void TearDown() override { std::remove(path.c_str()); }
  void put(const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    ASSERT_EQ(written, bytes.size());
  }
};

TEST_F(TarFile, WrittenArchiveReadsBack) {
  TarArchive out;
  ASSERT_EQ(tar_open(&out, path.c_str(), "w"), TarStatus::Success);
  const Bytes data = pattern(1000);
  ASSERT_EQ(tar_write_file_header(&out, "dir/file.bin", 1000), TarStatus::Success);
  ASSERT_EQ(tar_write_data(&out, data.data(), 1000), TarStatus::Success);
  ASSERT_EQ(tar_finalize(&out), TarStatus::Success);
  EXPECT_EQ(out.position, 512u + 1024u + 1024u);
  ASSERT_EQ(tar_close(&out), TarStatus::Success);

  TarArchive in;
  ASSERT_EQ(tar_open(&in, path.c_str(), "r"), TarStatus::Success);
  TarHeader header;
  ASSERT_EQ(tar_find(&in, "dir/file.bin", &header), TarStatus::Success);
  EXPECT_EQ(header.mode, 0664u);
  Bytes back(header.size);
  ASSERT_EQ(tar_read_data(&in, back.data(), header.size), TarStatus::Success);
  EXPECT_EQ(back, data);
  EXPECT_EQ(tar_find(&in, "other", nullptr), TarStatus::NotFound);
  EXPECT_EQ(tar_close(&in), TarStatus::Success);
}

TEST_F(TarFile, OpenForReadingChecksTheFirstHeader) {
  TarArchive tar;
  EXPECT_EQ(tar_open(&tar, (path + ".missing").c_str(), "r"), TarStatus::OpenFailed);
  put({});
  EXPECT_EQ(tar_open(&tar, path.c_str(), "r"), TarStatus::ReadFailed);
  EXPECT_EQ(tar.stream, nullptr);
  Bytes archive = build({{"a", pattern(3)}});
  archive[150] ^= 1;
  put(archive);
  EXPECT_EQ(tar_open(&tar, path.c_str(), "rb"), TarStatus::BadChecksum);
  EXPECT_EQ(tar.stream, nullptr);
  put(Bytes(1024, 0));
  EXPECT_EQ(tar_open(&tar, path.c_str(), "r"), TarStatus::NullRecord);
  archive[150] ^= 1;
  archive.resize(700);  // header fine, data cut short
  put(archive);
  ASSERT_EQ(tar_open(&tar, path.c_str(), "r"), TarStatus::Success);
  ASSERT_EQ(tar_next(&tar), TarStatus::Success);
  TarHeader header;
  EXPECT_EQ(tar_read_header(&tar, &header), TarStatus::ReadFailed);
}

}  // namespace
