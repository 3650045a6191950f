// The information block of a firmware image: decoding and the model check.
#include <cstring>

#include "firmware/firmware.h"
#include "util/bytes.h"

namespace {

// Accepted model names: 8 bytes followed by a zero byte.
constexpr const char* ACCEPTED_MODELS[] = {"LUMARO-4", "LUMARO-3", "LUMARO-2", "LUMARO-1"};
constexpr std::size_t MODEL_LENGTH = 8;

bool is_accepted_model(const uint8_t* field) {
  if (field[MODEL_LENGTH] != 0) return false;
  for (const char* model : ACCEPTED_MODELS) {
    if (std::memcmp(field, model, MODEL_LENGTH) == 0) return true;
  }
  return false;
}

// Up to the terminating zero, never beyond the field.
std::string text_field(const uint8_t* block, std::size_t offset) {
  const uint8_t* text = block + offset;
  const void* end = std::memchr(text, 0, FirmwareInfo::TEXT_SIZE);
  const std::size_t length = end ? static_cast<std::size_t>(static_cast<const uint8_t*>(end) - text) : FirmwareInfo::TEXT_SIZE;
  return std::string(reinterpret_cast<const char*>(text), length);
}

}  // namespace

FirmwareResult read_firmware_info(const uint8_t* data, uint64_t size, FirmwareInfo* info) {
  if (!data || size == 0 || size > FIRMWARE_MAX_SIZE || size < FIRMWARE_MIN_SIZE)
    return {FirmwareReason::SizeOutOfLimits, ""};
  const uint8_t* block = data + FirmwareInfo::OFFSET;
  if (!is_accepted_model(block + FirmwareInfo::MODEL_NAME)) return {FirmwareReason::ModelNotAccepted, ""};
  info->model_name = text_field(block, FirmwareInfo::MODEL_NAME);
  info->model_description = text_field(block, FirmwareInfo::MODEL_DESCRIPTION);
  info->version_string = text_field(block, FirmwareInfo::VERSION_STRING);
  info->version_number = get_le32(block, FirmwareInfo::VERSION_NUMBER);
  info->version_date = text_field(block, FirmwareInfo::VERSION_DATE);
  info->version_time = text_field(block, FirmwareInfo::VERSION_TIME);
  info->dali_number_of_channel = block[FirmwareInfo::CHANNEL_COUNT];
  return {};
}
