#include "zip/zip.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes pattern(std::size_t size, uint8_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + (i % 251) * (i / 1000 + 1));
  return out;
}

class Zip : public ::testing::Test {
 protected:
  fs::path dir = fs::path(VARNU_BUILD_DIR) / "zip_test" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::path path = dir / "archive.zip";
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }

  int add(ZipArchive* zip, const std::string& name, const Bytes& data) {
    if (zip_entry_begin(zip, name.c_str()) != 0) return -1;
    if (zip_entry_append(zip, data.data(), data.size()) != 0) return -1;
    return zip_entry_finish(zip);
  }

  // Names and contents in stored order, "" on any failure.
  std::vector<std::pair<std::string, Bytes>> read_back() {
    std::vector<std::pair<std::string, Bytes>> out;
    ZipArchiveHandle zip = zip_archive_open(path.c_str(), 0, 'r');
    if (!zip) return out;
    const int64_t count = zip_archive_entry_count(zip.get());
    for (int64_t i = 0; i < count; ++i) {
      Bytes data;
      EXPECT_EQ(zip_entry_select(zip.get(), i), 0);
      EXPECT_EQ(zip_entry_is_directory(zip.get()), 0);
      EXPECT_EQ(zip_entry_read_all(zip.get(), &data), ZipRead::Read);
      out.emplace_back(zip_entry_current_name(zip.get()), data);
      EXPECT_EQ(zip_entry_finish(zip.get()), 0);
    }
    EXPECT_EQ(zip_archive_close(std::move(zip)), 0);
    return out;
  }
};

TEST_F(Zip, EntriesReadBackInOrderWithTheirBytes) {
  const Bytes big = pattern(300000, 7);
  ZipArchiveHandle zip = zip_archive_open(path.c_str(), 6, 'w');
  ASSERT_TRUE(zip);
  EXPECT_EQ(add(zip.get(), "systemconfig.tar", pattern(9216, 1)), 0);
  EXPECT_EQ(add(zip.get(), "sub\\dali1.tar", big), 0);
  EXPECT_EQ(add(zip.get(), "empty.tar", {}), 0);
  // Appending in pieces gives the same entry as one block.
  ASSERT_EQ(zip_entry_begin(zip.get(), "pieces.tar"), 0);
  ASSERT_EQ(zip_entry_append(zip.get(), big.data(), 1000), 0);
  ASSERT_EQ(zip_entry_append(zip.get(), nullptr, 0), 0);
  ASSERT_EQ(zip_entry_append(zip.get(), big.data() + 1000, big.size() - 1000), 0);
  ASSERT_EQ(zip_entry_finish(zip.get()), 0);
  ASSERT_EQ(zip_archive_close(std::move(zip)), 0);

  const auto entries = read_back();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0], std::make_pair(std::string("systemconfig.tar"), pattern(9216, 1)));
  EXPECT_EQ(entries[1], std::make_pair(std::string("sub/dali1.tar"), big));
  EXPECT_EQ(entries[2], std::make_pair(std::string("empty.tar"), Bytes{}));
  EXPECT_EQ(entries[3], std::make_pair(std::string("pieces.tar"), big));
  EXPECT_LT(fs::file_size(path), big.size());  // compressed
}

TEST_F(Zip, LevelsAndModes) {
  EXPECT_FALSE(zip_archive_open(nullptr, 6, 'w'));
  EXPECT_FALSE(zip_archive_open("", 6, 'w'));
  EXPECT_FALSE(zip_archive_open(path.c_str(), 6, 'a'));
  EXPECT_FALSE(zip_archive_open(path.c_str(), 11, 'w'));
  EXPECT_FALSE(zip_archive_open(path.c_str(), 0x1F, 'w'));
  for (const int level : {-1, 0, 1, 9, 10, 0x106}) {
    SCOPED_TRACE(level);
    ZipArchiveHandle zip = zip_archive_open(path.c_str(), level, 'w');
    ASSERT_TRUE(zip);
    EXPECT_EQ(add(zip.get(), "a.tar", pattern(5000, 3)), 0);
    ASSERT_EQ(zip_archive_close(std::move(zip)), 0);
    const auto entries = read_back();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].second, pattern(5000, 3));
    EXPECT_EQ(fs::file_size(path) > 5000, level == 0);  // level 0 stores
  }
  EXPECT_FALSE(zip_archive_open((dir / "missing.zip").c_str(), 0, 'r'));
  std::ofstream(dir / "text.zip") << "not a zip archive";
  EXPECT_FALSE(zip_archive_open((dir / "text.zip").c_str(), 0, 'r'));
}

TEST_F(Zip, ArchiveAppearsOnlyWhenClosedComplete) {
  std::ofstream(path) << "previous backup";
  ZipArchiveHandle zip = zip_archive_open(path.c_str(), 6, 'w');
  ASSERT_TRUE(zip);
  EXPECT_EQ(add(zip.get(), "a.tar", pattern(100, 1)), 0);
  EXPECT_EQ(fs::file_size(path), 15u);  // untouched until the close
  ASSERT_EQ(zip_archive_close(std::move(zip)), 0);
  EXPECT_EQ(read_back().size(), 1u);

  // Dropped without a close: nothing is written.
  const fs::path other = dir / "dropped.zip";
  zip = zip_archive_open(other.c_str(), 6, 'w');
  ASSERT_TRUE(zip);
  EXPECT_EQ(add(zip.get(), "a.tar", pattern(100, 1)), 0);
  zip.reset();
  EXPECT_FALSE(fs::exists(other));

  // No entries: no empty archive is left behind.
  zip = zip_archive_open(other.c_str(), 6, 'w');
  ASSERT_TRUE(zip);
  EXPECT_EQ(zip_archive_close(std::move(zip)), 0);
  EXPECT_FALSE(fs::exists(other));

  // A folder that does not exist fails at the close, leaving nothing.
  const fs::path nowhere = dir / "missing" / "a.zip";
  zip = zip_archive_open(nowhere.c_str(), 6, 'w');
  ASSERT_TRUE(zip);
  EXPECT_EQ(add(zip.get(), "a.tar", pattern(100, 1)), 0);
  EXPECT_EQ(zip_archive_close(std::move(zip)), -1);
  EXPECT_FALSE(fs::exists(nowhere.parent_path()));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(Zip, OperationsOutOfTurnFail) {
  ZipArchiveHandle zip = zip_archive_open(path.c_str(), 6, 'w');
  ASSERT_TRUE(zip);
  EXPECT_EQ(zip_entry_append(zip.get(), "x", 1), -1);
  EXPECT_EQ(zip_entry_finish(zip.get()), -1);
  EXPECT_EQ(zip_entry_begin(zip.get(), ""), -1);
  EXPECT_EQ(zip_entry_begin(zip.get(), nullptr), -1);
  ASSERT_EQ(zip_entry_begin(zip.get(), "a.tar"), 0);
  EXPECT_EQ(zip_entry_begin(zip.get(), "b.tar"), -1);
  EXPECT_EQ(zip_entry_append(zip.get(), nullptr, 3), -1);
  ASSERT_EQ(zip_entry_finish(zip.get()), 0);
  EXPECT_EQ(add(zip.get(), "a.tar", pattern(3, 1)), -1);  // one name, one entry
  EXPECT_EQ(zip_archive_entry_count(zip.get()), -1);
  EXPECT_EQ(zip_entry_select(zip.get(), 0), -1);
  Bytes data;
  EXPECT_EQ(zip_entry_read_all(zip.get(), &data), ZipRead::Failed);
  ASSERT_EQ(zip_archive_close(std::move(zip)), 0);

  zip = zip_archive_open(path.c_str(), 0, 'r');
  ASSERT_TRUE(zip);
  EXPECT_EQ(zip_archive_entry_count(zip.get()), 1);
  EXPECT_EQ(zip_entry_current_name(zip.get()), nullptr);
  EXPECT_EQ(zip_entry_is_directory(zip.get()), -1);
  EXPECT_EQ(zip_entry_read_all(zip.get(), &data), ZipRead::Failed);
  EXPECT_EQ(zip_entry_select(zip.get(), 1), -1);
  EXPECT_EQ(zip_entry_select(zip.get(), -1), -1);
  EXPECT_EQ(zip_entry_begin(zip.get(), "c.tar"), -1);
  ASSERT_EQ(zip_entry_select(zip.get(), 0), 0);
  EXPECT_STREQ(zip_entry_current_name(zip.get()), "a.tar");
  EXPECT_EQ(zip_entry_finish(zip.get()), 0);
  EXPECT_EQ(zip_entry_current_name(zip.get()), nullptr);
  EXPECT_EQ(zip_archive_entry_count(nullptr), -1);
}

TEST_F(Zip, DamagedEntryFailsToRead) {
  ZipArchiveHandle zip = zip_archive_open(path.c_str(), 0, 'w');
  ASSERT_TRUE(zip);
  EXPECT_EQ(add(zip.get(), "a.tar", pattern(4000, 1)), 0);
  ASSERT_EQ(zip_archive_close(std::move(zip)), 0);
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(30 + 5 + 2000);  // inside the stored data
  file.put('\x5a');
  file.close();
  zip = zip_archive_open(path.c_str(), 0, 'r');
  ASSERT_TRUE(zip);
  ASSERT_EQ(zip_entry_select(zip.get(), 0), 0);
  Bytes data{1, 2, 3};
  EXPECT_EQ(zip_entry_read_all(zip.get(), &data), ZipRead::Failed);
  EXPECT_TRUE(data.empty());
}

TEST_F(Zip, NoMoreThan65535Entries) {
  ZipArchiveHandle zip = zip_archive_open(path.c_str(), 6, 'w');
  ASSERT_TRUE(zip);
  for (int i = 0; i < 65535; ++i) {
    const std::string name = std::to_string(i);
    ASSERT_EQ(zip_entry_begin(zip.get(), name.c_str()), 0);
    ASSERT_EQ(zip_entry_finish(zip.get()), 0);
  }
  EXPECT_EQ(zip_entry_begin(zip.get(), "one more"), -1);
}

}  // namespace
