// The information block of a raw image: arbitrary bytes as the block of the
// smallest image, through the decoder, whose texts must stay inside their
// fields. Seeded with blocks of images made by the firmware maker.
#include <algorithm>
#include <cstring>
#include <vector>

#include "firmware/firmware.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static std::vector<uint8_t> smallest(FIRMWARE_MIN_SIZE);
  std::memset(smallest.data() + FirmwareInfo::OFFSET, 0, FirmwareInfo::SIZE);
  std::memcpy(smallest.data() + FirmwareInfo::OFFSET, data, std::min<std::size_t>(size, FirmwareInfo::SIZE));
  FirmwareInfo info;
  const FirmwareResult checked = read_firmware_info(smallest.data(), smallest.size(), &info);
  if (checked.ok() && (info.model_name.size() != 8 || info.version_string.size() > FirmwareInfo::TEXT_SIZE))
    __builtin_trap();
  return 0;
}
