// The push_firmware action: read and check a firmware file, upload the image
// by TFTP and ask the gateway to install it.
#include "action/action.h"
#include "firmware/firmware.h"

namespace {

// The text after the last dot, unless that dot opens the path.
std::string path_extension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  return path.substr(dot + 1);
}

int not_valid(const Reporter& reporter, int result) {
  report(reporter, "FIRMWARE FILE IS NOT VALID!");
  return result;
}

}  // namespace

int push_firmware(Gateway& gateway, const Reporter& reporter, const char* ip, const char* firmwarefile) {
  if (!ip) {
    report(reporter, "Missing arguments for action push_firmware.");
    return 2;
  }
  FirmwareImage image;
  if (firmwarefile) image.path = std::string(firmwarefile).substr(0, FIRMWARE_PATH_MAX);
  const std::string extension = path_extension(image.path);
  report(reporter, "\n");

  const bool package = extension == "bin";
  std::optional<FirmwareDigest> expected;
  int read_result;
  if (package) {
    read_result = read_firmware_package(&image, &expected);
  } else if (extension == "binary") {
    read_result = read_firmware_raw(&image);
  } else {
    report(reporter, "File format not supported.\n");
    return not_valid(reporter, firmwarefile ? 1 : 2);
  }

  const FirmwareDigest digest = firmware_digest(image.data.data(), image.data.size());
  if (read_result != 0) return not_valid(reporter, 1);
  if (package) {
    if (!expected) return not_valid(reporter, 1);
    if (*expected != digest) {
      report(reporter, "File is invalid (h).\n");
      return not_valid(reporter, 1);
    }
  }
  if (check_firmware_info(image.data.data(), image.size()) != 0) return not_valid(reporter, 1);

  const UploadSource source{image.data.data(), image.data.size()};
  if (gateway.tftp_upload(ip, &source) != Transfer::Done) return 1;
  report(reporter, "OK\n");
  if (gateway.request_firmware_upgrade(ip, digest.data(), image.data.size()) != Transfer::Done) return 1;
  report(reporter, "OK\n");
  return 0;
}
