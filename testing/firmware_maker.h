// Makes firmware images and packages for tests, benchmarks and the developer
// utility fwmaker. Not part of varnu-cli.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/firmware.h"

// What an image's information block says. Texts are written as given: one of
// 33 bytes or more fills its field without a terminating zero (cut at 33).
struct ImageDescription {
  uint64_t size = FIRMWARE_MIN_SIZE;
  std::string model_name = "LUMARO-4";  // the gateway stand-in's default model
  std::string model_description = "LUMARO DALI gateway";
  std::string version_string = "1.0.0";
  uint32_t version_number = 0x010000;
  std::string version_date = "Jan 15 2024";
  std::string version_time = "12:00:00";
  uint8_t dali_number_of_channel = 4;
  uint32_t seed = 1;  // the filler bytes around the block follow from it
};

// An image of description.size bytes; the block is cut when the image ends inside it.
std::vector<uint8_t> make_firmware_image(const ImageDescription& description);

enum class PackageEncryption { None, Aes128, Aes192, Aes256, Traditional };

struct PackageDescription {
  PackageEncryption header_encryption = PackageEncryption::Aes256;
  PackageEncryption image_encryption = PackageEncryption::Aes256;
  std::string password = FIRMWARE_PACKAGE_PASSWORD;
  std::optional<std::string> header;  // default: the image's digest in lower-case hex
  std::string header_entry = FIRMWARE_HEADER_ENTRY;  // an empty name leaves the entry out
  std::string image_entry = FIRMWARE_IMAGE_ENTRY;
  bool deflate = false;  // stored otherwise
  bool zstd = false;     // both entries zstd-compressed, AES-256 only, by our own zip writer
};

// Makes the package in memory. 0, or -1 with the reason in *error.
int make_firmware_package(const std::vector<uint8_t>& image, const PackageDescription& description,
                          std::vector<uint8_t>* package, std::string* error);
// The same, written as the file `path`.
int write_firmware_package(const char* path, const std::vector<uint8_t>& image,
                           const PackageDescription& description, std::string* error);

// Writes `bytes` as the file `path`. 0, or -1 with the reason in *error.
int write_bytes(const char* path, const std::vector<uint8_t>& bytes, std::string* error);

// 64 hexadecimal digits, two per byte, high nibble first.
std::string digest_hex(const FirmwareDigest& digest, bool upper_case = false);

// "none", "aes128", "aes192", "aes256", "traditional"; nothing for another name.
std::optional<PackageEncryption> encryption_by_name(const std::string& name);
