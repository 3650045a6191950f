#include <gtest/gtest.h>
#include <lzma.h>
#include <stdlib.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/firmware_maker.h"
#include "firmware/winzip_aes.h"
#include "testing/winzip_aes_maker.h"

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
  std::vector<uint8_t> streamed;  // read_zip_aes_entry's result, for entries of an archive
};

// The only entry of the zip archive `path`: its raw bytes, and what our
// reader makes of it streaming from libzip.
RawEntry raw_entry_of(const std::filesystem::path& path) {
  RawEntry entry;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, nullptr);
  EXPECT_NE(archive, nullptr) << path;
  uint64_t raw_size = 0;
  if (archive && zip_aes_entry_info(archive, 0, &entry.info, &raw_size) == EntryLookup::WinZipAes) {
    entry.raw.resize(raw_size);
    zip_file_t* file = zip_fopen_index(archive, 0, ZIP_FL_ENCRYPTED);
    EXPECT_EQ(zip_fread(file, entry.raw.data(), raw_size), static_cast<zip_int64_t>(raw_size));
    zip_fclose(file);
    EXPECT_EQ(read_zip_aes_entry(archive, 0, entry.info, raw_size, PASSWORD, LIMIT, &entry.streamed),
              AesEntryError::None);
  }
  if (archive) zip_discard(archive);
  std::filesystem::remove_all(path.parent_path());
  return entry;
}

std::filesystem::path fresh_folder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "winzip_aes_test.XXXXXX").string();
  EXPECT_NE(mkdtemp(pattern.data()), nullptr);
  return pattern;
}

// An entry written by 7-Zip with AES-256 and its compression method `method`.
RawEntry seven_zip_entry(const std::vector<uint8_t>& content, const std::string& method) {
  const std::filesystem::path dir = fresh_folder();
  std::string error;
  EXPECT_EQ(write_bytes((dir / "image").c_str(), content, &error), 0) << error;
  const std::string command = "cd '" + dir.string() + "' && 7z a -tzip -mem=AES256 -mm=" + method + " -p" +
                              PASSWORD + " package.zip image >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return raw_entry_of(dir / "package.zip");
}

// A deflated entry written by libzip, which stores the CRC-32 with AE-2.
RawEntry libzip_entry(const std::vector<uint8_t>& content) {
  PackageDescription description;
  description.deflate = true;
  description.header_entry.clear();
  const std::filesystem::path path = fresh_folder() / "package.zip";
  std::string error;
  EXPECT_EQ(write_firmware_package(path.c_str(), content, description, &error), 0) << error;
  return raw_entry_of(path);
}

// Compressed by the libraries themselves: zstd, and LZMA without the end
// marker (the declared size ends it), behind the zip LZMA header.
std::vector<uint8_t> compressed(uint16_t method, const std::vector<uint8_t>& content) {
  std::vector<uint8_t> out(content.size() + 4096);
  std::size_t written = 0;
  if (method == ZIP_METHOD_ZSTD) {
    written = ZSTD_compress(out.data(), out.size(), content.data(), content.size(), 3);
  } else {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 6);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    out[0] = 9;  // encoder version 9.20, 5 bytes of properties
    out[1] = 20;
    out[2] = 5;
    written = 9;
    EXPECT_EQ(lzma_properties_encode(filters, out.data() + 4), LZMA_OK);
    const lzma_ret encoded =
        lzma_raw_buffer_encode(filters, nullptr, content.data(), content.size(), out.data(), &written, out.size());
    EXPECT_EQ(encoded, LZMA_OK);
  }
  out.resize(written);
  return out;
}

TEST(WinZipAes, EntriesOfRealWritersDecodeToTheContent) {
  const std::vector<uint8_t> content = sample_content();
  const auto crc = static_cast<uint32_t>(crc32_z(0, content.data(), content.size()));
  // Compressed and encrypted here; AE-1 with the CRC-32.
  auto made = [&](uint16_t method, uint8_t strength, uint16_t vendor) {
    const AesEntryInfo info = {vendor, strength, method, vendor == 1 ? crc : 0, content.size()};
    return RawEntry{make_aes_entry(compressed(method, content), strength, PASSWORD), info, {}};
  };
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
      {"libzip deflate", libzip_entry(content), ZIP_METHOD_DEFLATE},
      {"LZMA without end marker, AE-1 AES-128", made(ZIP_METHOD_LZMA, 1, 1), ZIP_METHOD_LZMA},
      {"zstd, AE-2 AES-192", made(ZIP_METHOD_ZSTD, 2, 2), ZIP_METHOD_ZSTD},
      {"zstd, AE-1 AES-256", made(ZIP_METHOD_ZSTD, 3, 1), ZIP_METHOD_ZSTD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.entry.info.method, c.method);
    EXPECT_EQ(c.entry.info.size, content.size());
    std::vector<uint8_t> plain;
    ASSERT_EQ(read_aes_entry(c.entry.raw.data(), c.entry.raw.size(), c.entry.info, PASSWORD, LIMIT, &plain),
              AesEntryError::None);
    EXPECT_TRUE(plain == content);
    EXPECT_TRUE(c.entry.streamed.empty() || c.entry.streamed == content);
  }
}

TEST(WinZipAes, FaultsAreTold) {
  const std::vector<uint8_t> content = sample_content();
  const RawEntry deflated = seven_zip_entry(content, "Deflate");
  ASSERT_GT(deflated.raw.size(), 100u);
  const std::vector<uint8_t> stored = make_aes_entry(content, 3, PASSWORD);
  const auto crc = static_cast<uint32_t>(crc32_z(0, content.data(), content.size()));
  auto flipped = [](std::vector<uint8_t> raw, std::size_t at) {
    raw[at] ^= 0x40;
    return raw;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> raw;
    AesEntryInfo info;
    const char* password;
    AesEntryError expected;
  };
  const uint64_t n = content.size();
  const AesEntryInfo info = {2, 3, ZIP_METHOD_DEFLATE, 0, n};
  const Case cases[] = {
      {"wrong password", deflated.raw, info, "5e0a7c91d2b84f36a1c9e07b3d58f2a6c4e19b71", AesEntryError::WrongPassword},
      {"flipped data byte", flipped(deflated.raw, deflated.raw.size() / 2), info, PASSWORD, AesEntryError::Damaged},
      {"flipped authentication code", flipped(deflated.raw, deflated.raw.size() - 1), info, PASSWORD,
       AesEntryError::Damaged},
      {"flipped last stored byte", flipped(stored, stored.size() - 11), {2, 3, 0, 0, n}, PASSWORD,
       AesEntryError::Damaged},
      {"cut short", std::vector<uint8_t>(deflated.raw.begin(), deflated.raw.end() - 11), info, PASSWORD,
       AesEntryError::Damaged},
      {"AE-1 with a wrong CRC", stored, {1, 3, 0, crc ^ 1, n}, PASSWORD, AesEntryError::Damaged},
      {"AE-2 ignores the CRC", stored, {2, 3, 0, crc ^ 1, n}, PASSWORD, AesEntryError::None},
      {"declared one byte short", deflated.raw, {2, 3, 8, 0, n - 1}, PASSWORD, AesEntryError::Damaged},
      {"declared one byte long", deflated.raw, {2, 3, 8, 0, n + 1}, PASSWORD, AesEntryError::Damaged},
      {"strength 4", deflated.raw, {2, 4, 8, 0, n}, PASSWORD, AesEntryError::Damaged},
      {"unknown method", deflated.raw, {2, 3, 98, 0, n}, PASSWORD, AesEntryError::UnsupportedMethod},
      {"above the limit", deflated.raw, {2, 3, 8, 0, LIMIT + 1}, PASSWORD, AesEntryError::TooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> plain = {1, 2, 3};
    EXPECT_EQ(read_aes_entry(c.raw.data(), c.raw.size(), c.info, c.password, LIMIT, &plain), c.expected);
    EXPECT_EQ(plain.empty(), c.expected != AesEntryError::None);
  }
}

}  // namespace
