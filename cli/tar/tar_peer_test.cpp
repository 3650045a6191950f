// Our tar reader and writer against independent implementations: GNU tar and
// Python's tarfile.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "testing/tar_support.h"
#include "tar/tar.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Member {
  std::string name;
  Bytes data;
};

Bytes pattern(std::size_t size, uint8_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed * 31 + i * 13 + (i >> 9));
  return out;
}

const std::vector<Member>& sample_members() {
  static const std::vector<Member> members = {
      {"etc/config/dali/dali1.bin", pattern(7072, 1)},
      {"status.txt", {'{', '"', 'm', 'a', 'c', '"', ':', '"', '1', '"', '}'}},
      {"empty.bin", {}},
      {"block.bin", pattern(512, 2)},
      {"block_and_one.bin", pattern(513, 3)},
      {"n/" + std::string(98, 'l'), pattern(100, 4)},  // 100 characters: the whole name field
  };
  return members;
}

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const Bytes& data) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

class TarPeers : public ::testing::Test {
 protected:
  fs::path dir = fs::path(VARNU_BUILD_DIR) / "tar_peer_test" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }

  // Writes the sample members with our writer to a file.
  fs::path write_ours() {
    const fs::path path = dir / "ours.tar";
    TarArchive tar;
    EXPECT_EQ(tar_open(&tar, path.c_str(), "w"), TarStatus::Success);
    for (const Member& m : sample_members()) {
      EXPECT_EQ(tar_write_file_header(&tar, m.name.c_str(), static_cast<uint32_t>(m.data.size())), TarStatus::Success);
      EXPECT_EQ(tar_write_data(&tar, m.data.data(), static_cast<uint32_t>(m.data.size())), TarStatus::Success);
    }
    EXPECT_EQ(tar_finalize(&tar), TarStatus::Success);
    EXPECT_EQ(tar_close(&tar), TarStatus::Success);
    return path;
  }

  // Lists `path` with our reader and reads every member back through tar_find.
  void expect_ours_reads(const fs::path& path) {
    const Bytes bytes = read_file(path);
    TarArchive tar;
    tar_memory_reader(&tar, bytes.data(), bytes.size());
    std::vector<std::string> names;
    TarHeader header;
    TarStatus status;
    while ((status = tar_read_header(&tar, &header)) == TarStatus::Success) {
      // pax extension headers are members of their own to a classic reader
      if (std::string(header.name).find("@PaxHeader") == std::string::npos) names.emplace_back(header.name);
      ASSERT_EQ(tar_next(&tar), TarStatus::Success);
    }
    EXPECT_EQ(status, TarStatus::NullRecord);
    std::vector<std::string> expected;
    for (const Member& m : sample_members()) expected.push_back(m.name);
    EXPECT_EQ(names, expected);
    for (auto it = sample_members().rbegin(); it != sample_members().rend(); ++it) {
      SCOPED_TRACE(it->name);
      ASSERT_EQ(tar_find(&tar, it->name.c_str(), &header), TarStatus::Success);
      ASSERT_EQ(header.size, it->data.size());
      Bytes data(header.size);
      ASSERT_EQ(tar_read_data(&tar, data.data(), header.size), TarStatus::Success);
      EXPECT_EQ(data, it->data);
    }
  }

  fs::path stage_members() {
    const fs::path source = dir / "src";
    for (const Member& m : sample_members()) write_file(source / m.name, m.data);
    return source;
  }

  std::string member_list() {
    std::string names;
    for (const Member& m : sample_members()) names += " '" + m.name + "'";
    return names;
  }
};

TEST_F(TarPeers, GnuTarListsAndExtractsWhatWeWrite) {
  const fs::path path = write_ours();
  std::string expected;
  for (const Member& m : sample_members()) expected += m.name + "\n";
  EXPECT_EQ(command_output("tar -tf '" + path.string() + "' 2>&1"), expected);
  const fs::path out = dir / "gnu";
  fs::create_directories(out);
  EXPECT_EQ(command_output("tar -xf '" + path.string() + "' -C '" + out.string() + "' 2>&1"), "");
  for (const Member& m : sample_members()) EXPECT_EQ(read_file(out / m.name), m.data) << m.name;
}

TEST_F(TarPeers, PythonTarfileListsAndExtractsWhatWeWrite) {
  const fs::path path = write_ours();
  const fs::path out = dir / "python";
  const std::string script =
      "import sys, tarfile\n"
      "with tarfile.open(sys.argv[1], 'r:') as t:\n"
      "    for m in t.getmembers():\n"
      "        print(m.name, m.size, oct(m.mode), m.isfile())\n"
      "    t.extractall(sys.argv[2])\n";
  std::string expected;
  for (const Member& m : sample_members()) expected += m.name + " " + std::to_string(m.data.size()) + " 0o664 True\n";
  EXPECT_EQ(command_output("python3 -c \"" + script + "\" '" + path.string() + "' '" + out.string() + "' 2>&1"), expected);
  for (const Member& m : sample_members()) EXPECT_EQ(read_file(out / m.name), m.data) << m.name;
}

TEST_F(TarPeers, WeReadGnuTarV7AndUstarArchives) {
  const fs::path source = stage_members();
  for (const std::string format : {"v7", "ustar", "gnu"}) {
    SCOPED_TRACE(format);
    const fs::path path = dir / (format + ".tar");
    ASSERT_EQ(command_output("tar --format=" + format + " -cf '" + path.string() + "' -C '" + source.string() + "'" +
                  member_list() + " 2>&1"),
              "");
    expect_ours_reads(path);
  }
}

TEST_F(TarPeers, WeReadPythonTarfileArchives) {
  const fs::path source = stage_members();
  for (const std::string format : {"USTAR_FORMAT", "GNU_FORMAT", "PAX_FORMAT"}) {
    SCOPED_TRACE(format);
    const fs::path path = dir / (format + ".tar");
    const std::string script =
        "import sys, tarfile\n"
        "with tarfile.open(sys.argv[1], 'w', format=tarfile." + format + ") as t:\n"
        "    for name in sys.argv[3:]:\n"
        "        t.add(sys.argv[2] + '/' + name, arcname=name)\n";
    ASSERT_EQ(command_output("python3 -c \"" + script + "\" '" + path.string() + "' '" + source.string() + "'" +
                  member_list() + " 2>&1"),
              "");
    expect_ours_reads(path);
  }
}

}  // namespace
