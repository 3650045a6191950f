#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/firmware.h"
#include "testing/firmware_maker.h"

namespace {

using testing::HasSubstr;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

constexpr const char* PREPARING = "Preparing file...\n";

class FirmwareFiles : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "firmware_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::string write_file(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path(name);
  }

  std::string write_package(const std::string& name, const std::vector<uint8_t>& image,
                            const PackageDescription& description = {}) const {
    std::string error;
    EXPECT_EQ(write_firmware_package(path(name).c_str(), image, description, &error), 0) << error;
    return path(name);
  }

  // Runs read_firmware_package on `file`; returns its result, keeps the printed text.
  int read_package(const std::string& file) {
    image_ = FirmwareImage{};
    image_.path = file;
    CaptureStdout();
    const int result = read_firmware_package(&image_, &expected_);
    printed_ = GetCapturedStdout();
    return result;
  }

  std::filesystem::path dir_;
  FirmwareImage image_;
  std::optional<FirmwareDigest> expected_;
  std::string printed_;
};

std::vector<uint8_t> small_image() {
  ImageDescription description;
  description.size = 5000;  // enough for the readers, which do not look inside
  return make_firmware_image(description);
}

// ---- package reader -----------------------------------------------------------

TEST_F(FirmwareFiles, Aes256PackageGivesImageAndHeaderDigest) {
  const std::vector<uint8_t> image = make_firmware_image({});
  for (bool deflate : {false, true}) {
    PackageDescription description;
    description.deflate = deflate;
    ASSERT_EQ(read_package(write_package("fw.bin", image, description)), 0) << printed_;
    EXPECT_EQ(printed_, PREPARING);
    EXPECT_EQ(image_.data, image);
    ASSERT_TRUE(expected_.has_value());
    EXPECT_EQ(*expected_, firmware_digest(image.data(), image.size()));
  }
}

TEST_F(FirmwareFiles, HeaderDigitsOfEitherCaseAndNonHexHeader) {
  const std::vector<uint8_t> image = small_image();
  const FirmwareDigest digest = firmware_digest(image.data(), image.size());
  PackageDescription description;
  description.header = digest_hex(digest, true);
  ASSERT_EQ(read_package(write_package("upper.bin", image, description)), 0);
  ASSERT_TRUE(expected_.has_value());
  EXPECT_EQ(*expected_, digest);

  // A non-hex digit is not the reader's failure: it reads the image and leaves the digest absent.
  description.header = digest_hex(digest).replace(63, 1, "g");
  ASSERT_EQ(read_package(write_package("nonhex.bin", image, description)), 0);
  EXPECT_EQ(printed_, PREPARING);
  EXPECT_FALSE(expected_.has_value());
  EXPECT_EQ(image_.data, image);
}

TEST_F(FirmwareFiles, EveryEncryptionButAes256IsRefused) {
  const std::vector<uint8_t> image = small_image();
  for (PackageEncryption other : {PackageEncryption::None, PackageEncryption::Aes128, PackageEncryption::Aes192,
                                  PackageEncryption::Traditional}) {
    SCOPED_TRACE(static_cast<int>(other));
    PackageDescription description;
    description.header_encryption = other;
    EXPECT_LT(read_package(write_package("header.bin", image, description)), 0);
    EXPECT_EQ(printed_, std::string(PREPARING) + "File format is invalid (ppfbh).\n");
    EXPECT_TRUE(image_.data.empty());

    description.header_encryption = PackageEncryption::Aes256;
    description.image_encryption = other;
    EXPECT_LT(read_package(write_package("image.bin", image, description)), 0);
    EXPECT_EQ(printed_, std::string(PREPARING) + "File format is invalid (ppfb).\n");
    EXPECT_TRUE(image_.data.empty());
    EXPECT_FALSE(expected_.has_value());
  }
}

TEST_F(FirmwareFiles, PackageStructureFailuresSayWhichStep) {
  const std::vector<uint8_t> image = small_image();
  const std::string hex = digest_hex(firmware_digest(image.data(), image.size()));
  struct Case {
    const char* what;
    PackageDescription description;
    const char* message;
  };
  std::vector<Case> cases(7);
  cases[0] = {"wrong password", {}, "File format is invalid (pbh).\n"};
  cases[0].description.password = "not-the-password";
  cases[1] = {"header with a line end", {}, "File content length is invalid (bh).\n"};
  cases[1].description.header = hex + "\n";
  cases[2] = {"short header", {}, "File content length is invalid (bh).\n"};
  cases[2].description.header = hex.substr(1);
  cases[3] = {"header name in capitals", {}, "File format is invalid (bh).\n"};
  cases[3].description.header_entry = "VARNU.BH";
  cases[4] = {"no header", {}, "File format is invalid (bh).\n"};
  cases[4].description.header_entry = "";
  cases[5] = {"image name in capitals", {}, "File format is invalid (binary).\n"};
  cases[5].description.image_entry = "VARNU.BINARY";
  cases[6] = {"header in a folder", {}, "File format is invalid (bh).\n"};
  cases[6].description.header_entry = "fw/varnu.bh";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_LT(read_package(write_package("case.bin", image, c.description)), 0);
    EXPECT_EQ(printed_, std::string(PREPARING) + c.message);
    EXPECT_TRUE(image_.data.empty());
  }
}

TEST_F(FirmwareFiles, NotAZipOrNoFileFailsAtOpening) {
  for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}, std::vector<uint8_t>{}}) {
    EXPECT_LT(read_package(write_file("text.bin", bytes)), 0);
    EXPECT_EQ(printed_, std::string(PREPARING) + "File format is invalid (open).\n");
  }

  CaptureStderr();
  EXPECT_LT(read_package(path("missing.bin")), 0);
  const std::string said = GetCapturedStderr();
  EXPECT_EQ(printed_, std::string(PREPARING) + "File format is invalid (open).\n");
  EXPECT_THAT(said, HasSubstr("missing.bin"));
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST_F(FirmwareFiles, TruncatedPackageIsRefusedWithoutImage) {
  std::vector<uint8_t> package;
  std::string error;
  ASSERT_EQ(make_firmware_package(small_image(), {}, &package, &error), 0) << error;
  package.resize(package.size() / 2);
  EXPECT_LT(read_package(write_file("cut.bin", package)), 0);
  EXPECT_TRUE(image_.data.empty());
}

TEST_F(FirmwareFiles, CorruptImageEntryFailsTheDigest) {
  std::vector<uint8_t> image = small_image();
  std::vector<uint8_t> package;
  std::string error;
  ASSERT_EQ(make_firmware_package(image, {}, &package, &error), 0) << error;
  // Stored and encrypted: flip a byte well inside the image entry's data so the
  // authentication code fails when the entry ends.
  const auto at = std::search(package.begin(), package.end(), FIRMWARE_IMAGE_ENTRY,
                              FIRMWARE_IMAGE_ENTRY + std::strlen(FIRMWARE_IMAGE_ENTRY));
  ASSERT_NE(at, package.end());
  *(at + 200) ^= 0x55;
  EXPECT_EQ(read_package(write_file("bad.bin", package)), 0);
  EXPECT_NE(image_.data, image);
  EXPECT_NE(firmware_digest(image_.data.data(), image_.data.size()), *expected_);
}

TEST_F(FirmwareFiles, OversizeImageInPackageIsNotKeptInMemory) {
  std::vector<uint8_t> image(FIRMWARE_MAX_SIZE + 1, 0);
  PackageDescription description;
  description.deflate = true;
  CaptureStderr();
  EXPECT_LT(read_package(write_package("big.bin", image, description)), 0);
  EXPECT_THAT(GetCapturedStderr(), HasSubstr("larger than 16777214"));
  EXPECT_TRUE(image_.data.empty());
}

// ---- raw reader ----------------------------------------------------------------

TEST_F(FirmwareFiles, RawReaderTakesTheFileAsItIs) {
  const std::vector<uint8_t> image = small_image();
  image_.path = write_file("fw.binary", image);
  CaptureStdout();
  EXPECT_EQ(read_firmware_raw(&image_), 0);
  EXPECT_EQ(GetCapturedStdout(), PREPARING);
  EXPECT_EQ(image_.data, image);
}

TEST_F(FirmwareFiles, RawReaderLeavesUnreadableOrOversizeFilesEmpty) {
  for (const std::string& file : {path("missing.binary"), dir_.string(),
                                  write_file("big.binary", std::vector<uint8_t>(FIRMWARE_MAX_SIZE + 1, 1))}) {
    SCOPED_TRACE(file);
    image_.path = file;
    image_.data = {1, 2, 3};
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(read_firmware_raw(&image_), -1);
    const std::string said = GetCapturedStderr();
    EXPECT_EQ(GetCapturedStdout(), PREPARING);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_TRUE(image_.data.empty());
  }
}

// ---- information block -----------------------------------------------------------

int check(const std::vector<uint8_t>& image, std::string* printed = nullptr) {
  CaptureStdout();
  const int result = check_firmware_info(image.data(), image.size());
  const std::string text = GetCapturedStdout();
  if (printed) *printed = text;
  return result;
}

TEST(FirmwareInfoCheck, SizeLimits) {
  ImageDescription description;
  description.model_name = "LUMARO-3";
  description.size = FIRMWARE_MIN_SIZE;
  EXPECT_EQ(check(make_firmware_image(description)), 0);
  description.size = FIRMWARE_MIN_SIZE - 1;
  EXPECT_EQ(check(make_firmware_image(description)), 1);
  description.size = FIRMWARE_MAX_SIZE;
  EXPECT_EQ(check(make_firmware_image(description)), 0);
  description.size = FIRMWARE_MAX_SIZE + 1;
  std::string printed;
  EXPECT_EQ(check(make_firmware_image(description), &printed), 1);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(check_firmware_info(nullptr, FIRMWARE_MIN_SIZE), 1);
  const std::vector<uint8_t> image = make_firmware_image({});
  EXPECT_EQ(check_firmware_info(image.data(), 0), 1);
}

TEST(FirmwareInfoCheck, ModelNameNeedsTheZeroByteAfterIt) {
  ImageDescription description;
  for (const char* model : {"LUMARO-1", "LUMARO-2", "LUMARO-3", "LUMARO-4"}) {
    description.model_name = model;
    EXPECT_EQ(check(make_firmware_image(description)), 0) << model;
  }
  for (const char* model : {"LUMARO-1X", "LUMARO-5", "lumaro-1", "LUMARO-", "", "LUMARO-10"}) {
    description.model_name = model;
    std::string printed;
    EXPECT_EQ(check(make_firmware_image(description), &printed), -1) << model;
    EXPECT_EQ(printed, "") << model;
  }
}

TEST(FirmwareInfoCheck, PrintsTheBlockInOrder) {
  ImageDescription description;
  description.model_name = "LUMARO-4";
  description.model_description = "Four channel gateway";
  description.version_string = "1.6.0";
  description.version_number = 0x01020304;
  description.version_date = "Mar 03 2025";
  description.version_time = "08:15:00";
  description.dali_number_of_channel = 4;
  std::string printed;
  ASSERT_EQ(check(make_firmware_image(description), &printed), 0);
  EXPECT_EQ(printed,
            "\r\n== Firmware Info ==\r\n"
            "model_name=LUMARO-4\r\n"
            "model_description=Four channel gateway\r\n"
            "version_string=1.6.0\r\n"
            "version_number=16909060\r\n"
            "version_date=Mar 03 2025\r\n"
            "version_time=08:15:00\r\n"
            "dali_number_of_channel=4\r\n"
            "== ==\r\n\r\n");
}

TEST(FirmwareInfoCheck, UnterminatedTextsStopAtTheirField) {
  // Each full field is followed directly by the next one, which must not show.
  ImageDescription description;
  description.model_description = std::string(40, 'D');
  description.version_string = std::string(33, 'V');
  description.version_date = std::string(33, 'A');
  description.version_time = std::string(33, 'T');
  description.dali_number_of_channel = 'C';
  std::string printed;
  ASSERT_EQ(check(make_firmware_image(description), &printed), 0);
  EXPECT_THAT(printed, HasSubstr("model_description=" + std::string(33, 'D') + "\r\n"));
  EXPECT_THAT(printed, HasSubstr("version_string=" + std::string(33, 'V') + "\r\n"));
  EXPECT_THAT(printed, HasSubstr("version_date=" + std::string(33, 'A') + "\r\n"));
  EXPECT_THAT(printed, HasSubstr("version_time=" + std::string(33, 'T') + "\r\n"));
  FirmwareInfo info;
  const std::vector<uint8_t> image = make_firmware_image(description);
  ASSERT_EQ(read_firmware_info(image.data(), image.size(), &info), 0);
  EXPECT_EQ(info.version_time, std::string(33, 'T'));
  EXPECT_EQ(info.dali_number_of_channel, 'C');
}

// ---- digest ------------------------------------------------------------------------

TEST(FirmwareDigestTest, KnownSha256Values) {
  EXPECT_EQ(digest_hex(firmware_digest(nullptr, 0)),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string abc = "abc";
  EXPECT_EQ(digest_hex(firmware_digest(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()), true),
            "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
}

}  // namespace
