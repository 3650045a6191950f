// A firmware file read as a package, byte for byte as the fuzzer made it; the
// seeds are real packages (every encryption the maker knows, 7-Zip's
// compression methods), so mutation starts behind the zip and AES layers.
// An image that comes out is checked the way push_firmware checks it.
#include <vector>

#include "firmware/firmware.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // An exact-size copy, so that any read past the end is caught by the sanitizer.
  const std::vector<uint8_t> package(data, data + size);
  FirmwareImage image;
  std::optional<FirmwareDigest> expected;
  if (!read_firmware_package_bytes(package.data(), package.size(), &image, &expected).ok()) return 0;
  // The reader stops before an image that can never pass fills memory.
  if (image.size() > FIRMWARE_MAX_SIZE) __builtin_trap();
  const FirmwareDigest digest = firmware_digest(image.data.data(), image.data.size());
  FirmwareInfo info;
  if (expected && *expected == digest) read_firmware_info(image.data.data(), image.size(), &info);
  return 0;
}
