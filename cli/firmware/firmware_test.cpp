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

  // Runs read_firmware_package on `file`; returns the reason, keeps the note.
  FirmwareReason read_package(const std::string& file) {
    image_ = FirmwareImage{};
    image_.path = file;
    const FirmwareResult result = read_firmware_package(&image_, &expected_);
    note_ = result.note;
    return result.reason;
  }

  std::filesystem::path dir_;
  FirmwareImage image_;
  std::optional<FirmwareDigest> expected_;
  std::string note_;
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
    ASSERT_EQ(read_package(write_package("fw.bin", image, description)), FirmwareReason::None) << note_;
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
  ASSERT_EQ(read_package(write_package("upper.bin", image, description)), FirmwareReason::None);
  ASSERT_TRUE(expected_.has_value());
  EXPECT_EQ(*expected_, digest);

  // A non-hex digit is not the reader's failure: it reads the image and leaves the digest absent.
  description.header = digest_hex(digest).replace(63, 1, "g");
  ASSERT_EQ(read_package(write_package("nonhex.bin", image, description)), FirmwareReason::None);
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
    EXPECT_EQ(read_package(write_package("header.bin", image, description)), FirmwareReason::HeaderNotAes256);
    EXPECT_TRUE(image_.data.empty());

    description.header_encryption = PackageEncryption::Aes256;
    description.image_encryption = other;
    EXPECT_EQ(read_package(write_package("image.bin", image, description)), FirmwareReason::ImageNotAes256);
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
    FirmwareReason reason;
  };
  std::vector<Case> cases(7);
  cases[0] = {"wrong password", {}, FirmwareReason::HeaderNotOpened};
  cases[0].description.password = "not-the-password";
  cases[1] = {"header with a line end", {}, FirmwareReason::HeaderLength};
  cases[1].description.header = hex + "\n";
  cases[2] = {"short header", {}, FirmwareReason::HeaderLength};
  cases[2].description.header = hex.substr(1);
  cases[3] = {"header name in capitals", {}, FirmwareReason::HeaderNotFound};
  cases[3].description.header_entry = "VARNU.BH";
  cases[4] = {"no header", {}, FirmwareReason::HeaderNotFound};
  cases[4].description.header_entry = "";
  cases[5] = {"image name in capitals", {}, FirmwareReason::ImageNotFound};
  cases[5].description.image_entry = "VARNU.BINARY";
  cases[6] = {"header in a folder", {}, FirmwareReason::HeaderNotFound};
  cases[6].description.header_entry = "fw/varnu.bh";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(read_package(write_package("case.bin", image, c.description)), c.reason);
    EXPECT_EQ(note_, "");
    EXPECT_TRUE(image_.data.empty());
  }
}

TEST_F(FirmwareFiles, NotAZipOrNoFileFailsAtOpening) {
  for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}, std::vector<uint8_t>{}}) {
    EXPECT_EQ(read_package(write_file("text.bin", bytes)), FirmwareReason::NotZip);
    EXPECT_EQ(note_, "");
  }
  EXPECT_EQ(read_package(path("missing.bin")), FirmwareReason::NotZip);
  EXPECT_THAT(note_, HasSubstr("missing.bin"));
  EXPECT_EQ(std::count(note_.begin(), note_.end(), '\n'), 1) << note_;
}

TEST_F(FirmwareFiles, TruncatedPackageIsRefusedWithoutImage) {
  std::vector<uint8_t> package;
  std::string error;
  ASSERT_EQ(make_firmware_package(small_image(), {}, &package, &error), 0) << error;
  package.resize(package.size() / 2);
  EXPECT_NE(read_package(write_file("cut.bin", package)), FirmwareReason::None);
  EXPECT_TRUE(image_.data.empty());
}

TEST_F(FirmwareFiles, DamagedImageEntryIsToldAndGivesNoImage) {
  std::vector<uint8_t> package;
  std::string error;
  ASSERT_EQ(make_firmware_package(small_image(), {}, &package, &error), 0) << error;
  // Stored and encrypted: a byte well inside the image entry's data breaks its authentication code.
  const auto at = std::search(package.begin(), package.end(), FIRMWARE_IMAGE_ENTRY,
                              FIRMWARE_IMAGE_ENTRY + std::strlen(FIRMWARE_IMAGE_ENTRY));
  ASSERT_NE(at, package.end());
  *(at + 200) ^= 0x55;
  EXPECT_EQ(read_package(write_file("bad.bin", package)), FirmwareReason::ImageDamaged);
  EXPECT_EQ(note_, "The firmware package entry varnu.binary is damaged.\n");
  EXPECT_TRUE(image_.data.empty());
}

TEST_F(FirmwareFiles, OversizeImageInPackageIsNotKeptInMemory) {
  std::vector<uint8_t> image(FIRMWARE_MAX_SIZE + 1, 0);
  PackageDescription description;
  description.deflate = true;
  EXPECT_EQ(read_package(write_package("big.bin", image, description)), FirmwareReason::ImageTooLarge);
  EXPECT_THAT(note_, HasSubstr("larger than 16777214"));
  EXPECT_TRUE(image_.data.empty());
}

// ---- raw reader ----------------------------------------------------------------

TEST_F(FirmwareFiles, RawReaderTakesTheFileAsItIs) {
  const std::vector<uint8_t> image = small_image();
  image_.path = write_file("fw.binary", image);
  EXPECT_TRUE(read_firmware_raw(&image_).ok());
  EXPECT_EQ(image_.data, image);
}

TEST_F(FirmwareFiles, RawReaderLeavesUnreadableOrOversizeFilesEmpty) {
  for (const std::string& file : {path("missing.binary"), dir_.string(),
                                  write_file("big.binary", std::vector<uint8_t>(FIRMWARE_MAX_SIZE + 1, 1))}) {
    SCOPED_TRACE(file);
    image_.path = file;
    image_.data = {1, 2, 3};
    const FirmwareResult result = read_firmware_raw(&image_);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(std::count(result.note.begin(), result.note.end(), '\n'), 1) << result.note;
    EXPECT_TRUE(image_.data.empty());
  }
}

// ---- information block -----------------------------------------------------------

FirmwareReason check(const std::vector<uint8_t>& image, FirmwareInfo* info = nullptr) {
  FirmwareInfo ignored;
  return read_firmware_info(image.data(), image.size(), info ? info : &ignored).reason;
}

TEST(FirmwareInfoCheck, SizeLimits) {
  ImageDescription description;
  description.model_name = "LUMARO-3";
  const struct {
    uint64_t size;
    FirmwareReason reason;
  } cases[] = {{FIRMWARE_MIN_SIZE, FirmwareReason::None},
               {FIRMWARE_MIN_SIZE - 1, FirmwareReason::SizeOutOfLimits},
               {FIRMWARE_MAX_SIZE, FirmwareReason::None},
               {FIRMWARE_MAX_SIZE + 1, FirmwareReason::SizeOutOfLimits}};
  for (const auto& c : cases) {
    description.size = c.size;
    EXPECT_EQ(check(make_firmware_image(description)), c.reason) << c.size;
  }
  FirmwareInfo info;
  EXPECT_EQ(read_firmware_info(nullptr, FIRMWARE_MIN_SIZE, &info).reason, FirmwareReason::SizeOutOfLimits);
  const std::vector<uint8_t> image = make_firmware_image({});
  EXPECT_EQ(read_firmware_info(image.data(), 0, &info).reason, FirmwareReason::SizeOutOfLimits);
}

TEST(FirmwareInfoCheck, ModelNameNeedsTheZeroByteAfterIt) {
  ImageDescription description;
  for (const char* model : {"LUMARO-1", "LUMARO-2", "LUMARO-3", "LUMARO-4"}) {
    description.model_name = model;
    EXPECT_EQ(check(make_firmware_image(description)), FirmwareReason::None) << model;
  }
  for (const char* model : {"LUMARO-1X", "LUMARO-5", "lumaro-1", "LUMARO-", "", "LUMARO-10"}) {
    description.model_name = model;
    EXPECT_EQ(check(make_firmware_image(description)), FirmwareReason::ModelNotAccepted) << model;
  }
}

TEST(FirmwareInfoCheck, FieldsDecodedAndTextsStopAtTheirField) {
  // Each full field is followed directly by the next one, which must not show.
  ImageDescription description;
  description.model_description = std::string(40, 'D');
  description.version_string = std::string(33, 'V');
  description.version_number = 0x01020304;
  description.version_date = "Mar 03 2025";
  description.version_time = std::string(33, 'T');
  description.dali_number_of_channel = 'C';
  FirmwareInfo info;
  ASSERT_EQ(check(make_firmware_image(description), &info), FirmwareReason::None);
  EXPECT_EQ(info.model_name, "LUMARO-4");
  EXPECT_EQ(info.model_description, std::string(33, 'D'));
  EXPECT_EQ(info.version_string, std::string(33, 'V'));
  EXPECT_EQ(info.version_number, 16909060u);
  EXPECT_EQ(info.version_date, "Mar 03 2025");
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
