#include <gtest/gtest.h>
#include <lzma.h>
#include <stdlib.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/firmware_maker.h"
#include "firmware/winzip_aes.h"
#include "firmware/winzip_aes_maker.h"

namespace {

constexpr const char* PASSWORD = "5e0a7c91d2b84f36a1c9e07b3d58f2a6c4e19b70";
constexpr uint64_t LIMIT = 16777214;

// Text that compresses, then noise that does not: long enough to span many
// decryption pieces.
std::vector<uint8_t> sample_content() {
  std::vector<uint8_t> content;
  for (int i = 0; content.size() < 150000; ++i) {
    const std::string line = "luminaire " + std::to_string(i) + " level 254\n";
    content.insert(content.end(), line.begin(), line.end());
  }
  ImageDescription noise;
  noise.size = 150001;
  const std::vector<uint8_t> tail = make_firmware_image(noise);
  content.insert(content.end(), tail.begin(), tail.end());
  return content;
}

struct RawEntry {
  std::vector<uint8_t> raw;
  AesEntryInfo info;
};

// The only entry of a zip archive, through libzip.
RawEntry raw_entry_of(const std::vector<uint8_t>& zip) {
  RawEntry entry;
  zip_error_t error;
  zip_error_init(&error);
  zip_t* archive = zip_open_from_source(zip_source_buffer_create(zip.data(), zip.size(), 0, &error), ZIP_RDONLY, &error);
  EXPECT_NE(archive, nullptr);
  if (archive) {
    EXPECT_EQ(read_raw_aes_entry(archive, 0, LIMIT, &entry.raw, &entry.info), RawEntryResult::Read);
    zip_discard(archive);
  }
  return entry;
}

// An entry written by 7-Zip with AES-256 and its compression method `method`.
RawEntry seven_zip_entry(const std::vector<uint8_t>& content, const std::string& method) {
  std::string pattern = (std::filesystem::temp_directory_path() / "winzip_aes_test.XXXXXX").string();
  EXPECT_NE(mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path dir = pattern;
  std::ofstream(dir / "image", std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                       static_cast<std::streamsize>(content.size()));
  const std::string command = "cd '" + dir.string() + "' && 7z a -tzip -mem=AES256 -mm=" + method + " -p" +
                              PASSWORD + " package.zip image >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream in(dir / "package.zip", std::ios::binary);
  const std::vector<uint8_t> zip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove_all(dir);
  return raw_entry_of(zip);
}

// An entry written by libzip (AES-256; stored, or deflate when `deflate`).
RawEntry libzip_entry(const std::vector<uint8_t>& content, bool deflate) {
  PackageDescription description;
  description.deflate = deflate;
  description.header_entry.clear();
  std::vector<uint8_t> zip;
  std::string error;
  EXPECT_EQ(make_firmware_package(content, description, &zip, &error), 0) << error;
  return raw_entry_of(zip);
}

// An LZMA entry without the end marker: the declared size ends it.
std::vector<uint8_t> lzma_without_end_marker(const std::vector<uint8_t>& content) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 6);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::vector<uint8_t> out = {9, 20, 5, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(lzma_properties_encode(filters, out.data() + 4), LZMA_OK);
  filters[0].id = LZMA_FILTER_LZMA1EXT;  // writes no end marker
  out.resize(out.size() + content.size() + 4096);
  std::size_t written = 9;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, content.data(), content.size(), out.data(), &written, out.size()),
            LZMA_OK);
  out.resize(written);
  return out;
}

std::vector<uint8_t> zstd_of(const std::vector<uint8_t>& content) {
  std::vector<uint8_t> out(ZSTD_compressBound(content.size()));
  out.resize(ZSTD_compress(out.data(), out.size(), content.data(), content.size(), 3));
  return out;
}

TEST(WinZipAes, EntriesOfRealWritersDecodeToTheContent) {
  const std::vector<uint8_t> content = sample_content();
  const auto crc = static_cast<uint32_t>(crc32_z(0, content.data(), content.size()));
  struct Case {
    const char* name;
    RawEntry entry;
    uint16_t method;
  };
  const Case cases[] = {
      {"7z Copy", seven_zip_entry(content, "Copy"), ZIP_METHOD_STORED},
      {"7z Deflate", seven_zip_entry(content, "Deflate"), ZIP_METHOD_DEFLATE},
      {"7z BZip2", seven_zip_entry(content, "BZip2"), ZIP_METHOD_BZIP2},
      {"7z LZMA (end marker)", seven_zip_entry(content, "LZMA"), ZIP_METHOD_LZMA},
      {"libzip stored", libzip_entry(content, false), ZIP_METHOD_STORED},
      {"libzip deflate", libzip_entry(content, true), ZIP_METHOD_DEFLATE},
      {"LZMA without end marker, AE-1 AES-128",
       {make_aes_entry(lzma_without_end_marker(content), 1, PASSWORD), {1, 1, ZIP_METHOD_LZMA, crc, content.size()}},
       ZIP_METHOD_LZMA},
      {"zstd, AE-2 AES-192",
       {make_aes_entry(zstd_of(content), 2, PASSWORD), {2, 2, ZIP_METHOD_ZSTD, 0, content.size()}},
       ZIP_METHOD_ZSTD},
      {"zstd, AE-1 AES-256",
       {make_aes_entry(zstd_of(content), 3, PASSWORD), {1, 3, ZIP_METHOD_ZSTD, crc, content.size()}},
       ZIP_METHOD_ZSTD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.entry.info.method, c.method);
    EXPECT_EQ(c.entry.info.size, content.size());
    std::vector<uint8_t> plain;
    ASSERT_EQ(read_aes_entry(c.entry.raw.data(), c.entry.raw.size(), c.entry.info, PASSWORD, LIMIT, &plain),
              AesEntryError::None);
    EXPECT_TRUE(plain == content);
  }
}

TEST(WinZipAes, FaultsAreTold) {
  const std::vector<uint8_t> content = sample_content();
  const RawEntry deflated = seven_zip_entry(content, "Deflate");
  ASSERT_GT(deflated.raw.size(), 100u);
  ASSERT_EQ(deflated.info.vendor_version, 2);
  const std::vector<uint8_t> stored = make_aes_entry(content, 3, PASSWORD);
  const auto crc = static_cast<uint32_t>(crc32_z(0, content.data(), content.size()));
  auto flipped = [](std::vector<uint8_t> raw, std::size_t at) {
    raw[at] ^= 0x40;
    return raw;
  };
  auto with = [](AesEntryInfo info, auto change) {
    change(&info);
    return info;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> raw;
    AesEntryInfo info;
    const char* password;
    AesEntryError expected;
  };
  const AesEntryInfo info = deflated.info;
  const Case cases[] = {
      {"wrong password", deflated.raw, info, "5e0a7c91d2b84f36a1c9e07b3d58f2a6c4e19b71", AesEntryError::WrongPassword},
      {"flipped data byte", flipped(deflated.raw, deflated.raw.size() / 2), info, PASSWORD, AesEntryError::Damaged},
      {"flipped authentication code", flipped(deflated.raw, deflated.raw.size() - 1), info, PASSWORD,
       AesEntryError::Damaged},
      {"flipped last stored byte", flipped(stored, stored.size() - 11), {2, 3, 0, 0, content.size()}, PASSWORD,
       AesEntryError::Damaged},
      {"cut short", std::vector<uint8_t>(deflated.raw.begin(), deflated.raw.end() - 11), info, PASSWORD,
       AesEntryError::Damaged},
      {"AE-1 with a wrong CRC", stored, {1, 3, 0, crc ^ 1, content.size()}, PASSWORD, AesEntryError::Damaged},
      {"AE-2 ignores the CRC", stored, {2, 3, 0, crc ^ 1, content.size()}, PASSWORD, AesEntryError::None},
      {"declared one byte short", deflated.raw, with(info, [](AesEntryInfo* i) { --i->size; }), PASSWORD,
       AesEntryError::Damaged},
      {"declared one byte long", deflated.raw, with(info, [](AesEntryInfo* i) { ++i->size; }), PASSWORD,
       AesEntryError::Damaged},
      {"strength 4", deflated.raw, with(info, [](AesEntryInfo* i) { i->strength = 4; }), PASSWORD,
       AesEntryError::Damaged},
      {"unknown method", deflated.raw, with(info, [](AesEntryInfo* i) { i->method = 98; }), PASSWORD,
       AesEntryError::UnsupportedMethod},
      {"above the limit", deflated.raw, with(info, [](AesEntryInfo* i) { i->size = LIMIT + 1; }), PASSWORD,
       AesEntryError::TooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> plain = {1, 2, 3};
    EXPECT_EQ(read_aes_entry(c.raw.data(), c.raw.size(), c.info, c.password, LIMIT, &plain), c.expected);
    EXPECT_EQ(plain.empty(), c.expected != AesEntryError::None);
  }
}

}  // namespace
