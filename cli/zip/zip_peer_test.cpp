// Our zip access against independent implementations: unzip and Python's zipfile.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "testing/tar_support.h"
#include "zip/zip.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class ZipPeers : public ::testing::Test {
 protected:
  fs::path dir = fs::path(VARNU_BUILD_DIR) / "zip_peer_test" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::path path = dir / "backup.zip";
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }
  std::string python(const std::string& script) {
    return command_output("python3 -c \"" + script + "\" '" + path.string() + "' 2>&1");
  }
};

TEST_F(ZipPeers, UnzipAndPythonAcceptWhatWeWrite) {
  ZipArchiveHandle zip = zip_archive_open(path.c_str(), 6, 'w');
  ASSERT_TRUE(zip);
  std::tm begun{};
  const std::time_t now = std::time(nullptr);
  localtime_r(&now, &begun);
  for (const std::string name : {"systemconfig.tar", "schedules.tar", "dali1.tar", "cmdrnamenvp.tar"}) {
    Bytes data(9216 + name.size() * 100);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(name[i % name.size()] + i / 512);
    ASSERT_EQ(zip_entry_begin(zip.get(), name.c_str()), 0);
    ASSERT_EQ(zip_entry_append(zip.get(), data.data(), data.size()), 0);
    ASSERT_EQ(zip_entry_finish(zip.get()), 0);
  }
  ASSERT_EQ(zip_archive_close(std::move(zip)), 0);

  const std::string tested = command_output("unzip -t '" + path.string() + "' 2>&1");
  EXPECT_NE(tested.find("No errors detected in compressed data"), std::string::npos) << tested;

  // Entry order, deflate, attributes, no comment, no Zip64 extra field (id 1),
  // content, and a modification time in local time from the moment of writing.
  const std::string script =
      "import sys, zipfile, struct\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "print(repr(z.comment))\n"
      "for i in z.infolist():\n"
      "    ids = []\n"
      "    e = i.extra\n"
      "    while len(e) >= 4:\n"
      "        tag, size = struct.unpack('<HH', e[:4]); ids.append(tag); e = e[4 + size:]\n"
      "    data = z.read(i)\n"
      "    n = i.filename\n"
      "    ok = all(data[k] == (ord(n[k % len(n)]) + k // 512) % 256 for k in range(len(data)))\n"
      "    print(n, i.compress_type, i.external_attr, 1 in ids, len(data), ok, '%04d%02d%02d%02d' % i.date_time[:4])\n";
  char hour[64];
  std::snprintf(hour, sizeof hour, "%04d%02d%02d%02d", begun.tm_year + 1900, begun.tm_mon + 1, begun.tm_mday,
                begun.tm_hour);
  const std::string h(hour);
  EXPECT_EQ(python(script), "b''\n"
                            "systemconfig.tar 8 0 False 10816 True " + h + "\n"
                            "schedules.tar 8 0 False 10516 True " + h + "\n"
                            "dali1.tar 8 0 False 10116 True " + h + "\n"
                            "cmdrnamenvp.tar 8 0 False 10716 True " + h + "\n");
}

TEST_F(ZipPeers, WeReadPythonArchivesWithFoldersAndBackslashes) {
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
      "z.writestr('folder/', b'')\n"
      "d = zipfile.ZipInfo('dosfolder'); d.external_attr = 0x10; z.writestr(d, b'')\n"
      "z.writestr('sub\\\\\\\\dali2.tar', b'abc' * 1000)\n"
      "z.writestr(zipfile.ZipInfo('stored.tar'), b'xyz')\n"
      "z.close()\n";
  ASSERT_EQ(python(script), "");
  ZipArchiveHandle zip = zip_archive_open(path.c_str(), 0, 'r');
  ASSERT_TRUE(zip);
  ASSERT_EQ(zip_archive_entry_count(zip.get()), 4);
  const char* names[] = {"folder/", "dosfolder", "sub/dali2.tar", "stored.tar"};
  const int folders[] = {1, 1, 0, 0};
  const std::size_t sizes[] = {0, 0, 3000, 3};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(zip_entry_select(zip.get(), i), 0);
    EXPECT_STREQ(zip_entry_current_name(zip.get()), names[i]);
    EXPECT_EQ(zip_entry_is_directory(zip.get()), folders[i]);
    Bytes data;
    EXPECT_EQ(zip_entry_read_all(zip.get(), &data), folders[i] ? ZipRead::Failed : ZipRead::Read);
    EXPECT_EQ(data.size(), sizes[i]);
  }
  EXPECT_EQ(zip_archive_close(std::move(zip)), 0);
}

}  // namespace
