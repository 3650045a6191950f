// Fuzzes the package reader and the information check with arbitrary bytes.
// The first byte chooses how the rest is read: as a whole package, or as the
// header and image of a well-formed encrypted package (so that mutation
// reaches the header and image steps behind the AES layer).
#include <cstdio>
#include <cstring>
#include <vector>

#include "firmware/firmware.h"
#include "testing/firmware_maker.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The readers print to standard output; keep the fuzzer's output readable.
  if (!std::freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const uint8_t* rest = data + 1;
  const std::size_t rest_size = size - 1;

  FirmwareImage image;
  std::optional<FirmwareDigest> expected;
  if (mode & 1) {
    const std::size_t header_size = rest_size ? std::min<std::size_t>(rest[0], rest_size - 1) : 0;
    const uint8_t* header = rest_size ? rest + 1 : rest;
    PackageDescription description;
    description.header = std::string(reinterpret_cast<const char*>(header), header_size);
    description.deflate = (mode & 2) != 0;
    const std::vector<uint8_t> content(header + header_size, rest + rest_size);
    std::vector<uint8_t> package;
    std::string error;
    if (make_firmware_package(content, description, &package, &error) != 0) __builtin_trap();
    const int result = read_firmware_package_bytes(package.data(), package.size(), &image, &expected);
    // What went in must come out: the whole image, and a digest only for 64 hex digits.
    if (result == 0 && image.data != content) __builtin_trap();
    if (result == 0 && expected && header_size != 64) __builtin_trap();
  } else {
    read_firmware_package_bytes(rest, rest_size, &image, &expected);
  }

  // The same bytes as an information block inside the smallest image.
  static std::vector<uint8_t> smallest(FIRMWARE_MIN_SIZE);
  std::memset(smallest.data() + FirmwareInfo::OFFSET, 0, FirmwareInfo::SIZE);
  std::memcpy(smallest.data() + FirmwareInfo::OFFSET, rest, std::min<std::size_t>(rest_size, FirmwareInfo::SIZE));
  FirmwareInfo info;
  const int checked = check_firmware_info(smallest.data(), smallest.size());
  if (checked != read_firmware_info(smallest.data(), smallest.size(), &info)) __builtin_trap();
  if (checked == 0 && (info.model_name.size() != 8 || info.version_string.size() > FirmwareInfo::TEXT_SIZE))
    __builtin_trap();
  return 0;
}
