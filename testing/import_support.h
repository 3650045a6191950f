// Helpers for the import tests: CSV files on disk, a fetched configuration of
// a chosen firmware, and the record layouts written out here once more, so
// that produced records are decoded independently of the code under test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "backup/backup.h"
#include "import/import.h"

namespace import_test {

// Where a channel record version keeps what the imports write.
struct Layout {
  const char* firmware;  // a firmware version that calls for it
  uint32_t version;      // header version written (0 and 1 share layout 1)
  uint32_t length;
  uint32_t gear_size;
  uint32_t name;         // name field inside a gear entry
  uint32_t group_table;
  uint32_t extra_table;  // 0: none
};
inline constexpr Layout V1{"1.2.9", 1, 11168, 152, 94, 9788, 10396};
inline constexpr Layout V2{"1.4.2", 2, 10912, 160, 106, 10300, 0};
inline constexpr Layout V3{"1.5.0", 3, 7072, 100, 45, 6460, 0};

// Names the parameterised cases after the layout's version.
inline std::string layout_name(const testing::TestParamInfo<Layout>& param) {
  return "v" + std::to_string(param.param.version);
}

inline uint32_t gear(const Layout& layout, uint32_t slot) { return 60 + layout.gear_size * slot; }
inline uint32_t group(const Layout& layout, uint32_t slot) { return layout.group_table + 38 * slot; }
inline uint32_t input_device(uint32_t slot) { return 28 + 100 * slot; }
inline uint32_t instance_block(uint32_t slot) { return 3228 + 198 * slot; }

inline uint32_t le32(const uint8_t* bytes, std::size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}
inline uint16_t le16(const uint8_t* bytes, std::size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}
inline std::string text_at(const uint8_t* bytes, std::size_t offset) {
  return reinterpret_cast<const char*>(bytes + offset);
}

// Writes `content` as a file of its own under the test's temporary folder.
inline std::string write_file(const std::string& content) {
  static unsigned counter = 0;
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const std::string path = testing::TempDir() + name + "_" + std::to_string(counter++) + ".csv";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr) << path;
  if (file) {
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
  return path;
}

inline FetchedConfiguration fetched_with_firmware(const char* firmware) {
  FetchedConfiguration fetched;
  if (firmware) fetched.firmware_version = firmware;
  return fetched;
}

inline std::unique_ptr<SetupWorkArea> zero_area() { return std::make_unique<SetupWorkArea>(); }

}  // namespace import_test
