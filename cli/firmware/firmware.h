// Firmware packages, raw images and their information block.
//
// A package ("*.bin") is a zip archive holding the image as "varnu.binary" and
// its SHA-256 digest as 64 hexadecimal digits in "varnu.bh", both WinZip
// AES-256 encrypted with a fixed password. A raw image ("*.binary") is the
// image alone. Every image carries an information block at a fixed offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr uint64_t FIRMWARE_MIN_SIZE = 0x1C00B8;  // the whole information block lies inside
constexpr uint64_t FIRMWARE_MAX_SIZE = 0xFFFFFE;

constexpr const char* FIRMWARE_HEADER_ENTRY = "varnu.bh";
constexpr const char* FIRMWARE_IMAGE_ENTRY = "varnu.binary";
constexpr const char* FIRMWARE_PACKAGE_PASSWORD = "5e0a7c91d2b84f36a1c9e07b3d58f2a6c4e19b70";

// A firmware image and the file it came from; owned by push_firmware.
struct FirmwareImage {
  std::string path;           // any length: no cut at a platform path limit
  std::vector<uint8_t> data;  // the image, byte for byte
  uint64_t size() const { return data.size(); }
};

using FirmwareDigest = std::array<uint8_t, 32>;

// The information block. The static members are byte offsets inside the block;
// the fields hold a decoded block.
struct FirmwareInfo {
  static constexpr uint64_t OFFSET = 0x1C0000;  // of the block inside the image
  static constexpr std::size_t SIZE = 184;
  static constexpr std::size_t TEXT_SIZE = 33;  // every text field; zero-terminated unless full
  static constexpr std::size_t MODEL_NAME = 12;
  static constexpr std::size_t MODEL_DESCRIPTION = 45;
  static constexpr std::size_t VERSION_STRING = 78;
  static constexpr std::size_t VERSION_NUMBER = 112;  // 32-bit
  static constexpr std::size_t VERSION_DATE = 116;
  static constexpr std::size_t VERSION_TIME = 149;
  static constexpr std::size_t CHANNEL_COUNT = 182;  // 8-bit

  std::string model_name;
  std::string model_description;
  std::string version_string;
  uint32_t version_number = 0;
  std::string version_date;
  std::string version_time;
  uint8_t dali_number_of_channel = 0;
};

// Why reading or checking a firmware file failed. push_firmware turns each
// reason into the user's message; the readers print nothing.
enum class FirmwareReason {
  None,
  NoMemory,
  FileTooLarge,        // a package file far beyond any real one
  NotZip,              // includes a package file that could not be read
  HeaderNotFound,
  HeaderNoInformation,
  HeaderNotAes256,
  HeaderNotOpened,     // wrong password, or a compression method we cannot decode
  HeaderLength,        // not exactly 64 bytes, or a damaged header entry
  ImageNotFound,
  ImageNoInformation,
  ImageNotAes256,
  ImageNotOpened,
  ImageDamaged,        // the authentication code, CRC or compressed data is wrong
  ImageTooLarge,
  Unreadable,          // a raw image that could not be read
  SizeOutOfLimits,     // the information check
  ModelNotAccepted,
};

// The outcome of a reader or of the information check.
struct FirmwareResult {
  FirmwareReason reason = FirmwareReason::None;
  std::string note;  // a standard-error line that comes before the reason's message, or empty
  bool ok() const { return reason == FirmwareReason::None; }
};

// Reads the package image->path into image->data. On success *expected holds
// the header's digest, or nothing when the header is not 64 hexadecimal digits.
FirmwareResult read_firmware_package(FirmwareImage* image, std::optional<FirmwareDigest>* expected);
// The same with the package already in memory (`count` bytes).
FirmwareResult read_firmware_package_bytes(const uint8_t* bytes, std::size_t count, FirmwareImage* image,
                                           std::optional<FirmwareDigest>* expected);
// Reads the raw image image->path into image->data; on failure the image is left empty.
FirmwareResult read_firmware_raw(FirmwareImage* image);

// Decodes and checks the information block of an image: SizeOutOfLimits, or
// ModelNotAccepted when the model name is not one of LUMARO-1 to LUMARO-4.
FirmwareResult read_firmware_info(const uint8_t* data, uint64_t size, FirmwareInfo* info);

// SHA-256 of `size` bytes (the empty digest when there are none).
FirmwareDigest firmware_digest(const uint8_t* data, std::size_t size);
