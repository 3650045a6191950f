// The push_firmware action: read and check a firmware file, upload the image
// by TFTP and ask the gateway to install it.
#include "action/action.h"
#include "firmware/firmware.h"
#include "util/text.h"

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

// The user's message for each reason a reader or the information check gives;
// nothing for the reasons that only "FIRMWARE FILE IS NOT VALID!" follows.
const char* reason_message(FirmwareReason reason) {
  switch (reason) {
    case FirmwareReason::NoMemory:
      return "memory error\n";
    case FirmwareReason::NotZip:
      return "File format is invalid (open).\n";
    case FirmwareReason::HeaderNotFound:
      return "File format is invalid (bh).\n";
    case FirmwareReason::HeaderNoInformation:
      return "File format is invalid (ppbh).\n";
    case FirmwareReason::HeaderNotAes256:
      return "File format is invalid (ppfbh).\n";
    case FirmwareReason::HeaderNotOpened:
    case FirmwareReason::ImageNotOpened:
      return "File format is invalid (pbh).\n";
    case FirmwareReason::HeaderLength:
      return "File content length is invalid (bh).\n";
    case FirmwareReason::ImageNotFound:
      return "File format is invalid (binary).\n";
    case FirmwareReason::ImageNoInformation:
      return "File format is invalid (ppb).\n";
    case FirmwareReason::ImageNotAes256:
      return "File format is invalid (ppfb).\n";
    case FirmwareReason::ImageDamaged:
      return "File is invalid (h).\n";  // what a damaged image has always ended in
    case FirmwareReason::None:
    case FirmwareReason::FileTooLarge:
    case FirmwareReason::ImageTooLarge:
    case FirmwareReason::Unreadable:
    case FirmwareReason::SizeOutOfLimits:
    case FirmwareReason::ModelNotAccepted:
      break;
  }
  return nullptr;
}

int report_failure(const Reporter& reporter, const FirmwareResult& result) {
  if (!result.note.empty()) report_error(reporter, "%s", result.note.c_str());
  if (const char* message = reason_message(result.reason)) report(reporter, "%s", message);
  return not_valid(reporter, 1);
}

void report_info(const Reporter& reporter, const FirmwareInfo& info) {
  report(reporter, "\r\n== Firmware Info ==\r\n");
  report(reporter, "model_name=%s\r\n", escape_bytes(info.model_name).c_str());
  report(reporter, "model_description=%s\r\n", escape_bytes(info.model_description).c_str());
  report(reporter, "version_string=%s\r\n", escape_bytes(info.version_string).c_str());
  report(reporter, "version_number=%u\r\n", static_cast<unsigned>(info.version_number));
  report(reporter, "version_date=%s\r\n", escape_bytes(info.version_date).c_str());
  report(reporter, "version_time=%s\r\n", escape_bytes(info.version_time).c_str());
  report(reporter, "dali_number_of_channel=%u\r\n", static_cast<unsigned>(info.dali_number_of_channel));
  report(reporter, "== ==\r\n\r\n");
}

}  // namespace

int push_firmware(Gateway& gateway, const Reporter& reporter, const char* ip, const char* firmwarefile) {
  if (!ip) {
    report(reporter, "Missing arguments for action push_firmware.");
    return 2;
  }
  FirmwareImage image;
  if (firmwarefile) image.path = firmwarefile;
  const std::string extension = path_extension(image.path);
  report(reporter, "\n");

  const bool package = extension == "bin";
  std::optional<FirmwareDigest> expected;
  if (!package && extension != "binary") {
    report(reporter, "File format not supported.\n");
    return not_valid(reporter, firmwarefile ? 1 : 2);
  }
  report(reporter, "Preparing file...\n");
  const FirmwareResult read = package ? read_firmware_package(&image, &expected) : read_firmware_raw(&image);
  if (!read.ok()) return report_failure(reporter, read);

  const FirmwareDigest digest = firmware_digest(image.data.data(), image.data.size());
  if (package) {
    if (!expected) return not_valid(reporter, 1);
    if (*expected != digest) {
      report(reporter, "File is invalid (h).\n");
      return not_valid(reporter, 1);
    }
  }
  FirmwareInfo info;
  const FirmwareResult checked = read_firmware_info(image.data.data(), image.size(), &info);
  if (!checked.ok()) return report_failure(reporter, checked);
  report_info(reporter, info);

  const UploadSource source{image.data.data(), image.data.size()};
  if (gateway.tftp_upload(ip, &source) != Transfer::Done) return 1;
  report(reporter, "OK\n");
  if (gateway.request_firmware_upgrade(ip, digest.data(), image.data.size()) != Transfer::Done) return 1;
  report(reporter, "OK\n");
  return 0;
}
