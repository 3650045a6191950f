#include <string>
#include <cstring>

#include "records/records.h"

namespace {

constexpr uint32_t SYSTEM_CONFIGURATION = 0;
constexpr uint32_t FIRST_CHANNEL = 1, LAST_CHANNEL = 4;
constexpr uint32_t LAST_INPUT = 8;
constexpr uint32_t LAST_CODE = 21;

void copy_bytes(uint8_t* target, std::size_t to, const uint8_t* source, std::size_t from, std::size_t count) {
  std::memcpy(target + to, source + from, count);
}

// The last step of every conversion: the new header and a fresh CRC.
void finish_conversion(const uint8_t* source, std::vector<uint8_t>* output, uint32_t version) {
  uint8_t* record = output->data();
  const uint32_t length = static_cast<uint32_t>(output->size());
  put_le32(record, RecordHeader::CHANGE_COUNT, get_le32(source, RecordHeader::CHANGE_COUNT) + 1);
  put_le32(record, RecordHeader::VERSION, version);
  put_le32(record, RecordHeader::LENGTH, length);
  seal_record(record, length);
}

bool is_known_device_type(uint8_t type) { return type == 5 || type == 6 || type == 8; }

// Moves each gear slot between layouts field by field; everything the target
// layout does not receive stays zero.
void convert_gear_entry(const uint8_t* s, const ChannelLayout& from, uint8_t* d, const ChannelLayout& to) {
  copy_bytes(d, 0, s, 0, GearEntry::COMMON_SIZE);
  if (from.extra_table) {
    // Version 1 keeps an unchecked type byte; only the three known types survive.
    const uint8_t type = s[from.device_type];
    d[to.device_type] = is_known_device_type(type) ? type : GearEntry::NO_DEVICE_TYPE;
    d[to.device_type + 1] = 255;
    if (to.type_5_data && type == 5) copy_bytes(d, to.type_5_data, s, from.type_5_data, GearEntry::TYPE_5_SIZE);
    if (to.type_6_data && type == 6) copy_bytes(d, to.type_6_data, s, from.type_6_data, GearEntry::TYPE_6_SIZE);
    if (to.type_8_data && type == 8) copy_bytes(d, to.type_8_data, s, from.type_8_data, GearEntry::TYPE_8_SIZE);
  } else {
    copy_bytes(d, to.device_type, s, from.device_type, 2);
  }
  copy_bytes(d, to.name, s, from.name, GearEntry::NAME_SIZE);
  d[to.after_name] = s[from.after_name];
  copy_bytes(d, to.word, s, from.word, GearEntry::WORD_SIZE);
  copy_bytes(d, to.closing, s, from.closing, GearEntry::CLOSING_SIZE);
}

ConvertResult convert_channel(const uint8_t* source, std::size_t count, const ChannelLayout& from, const ChannelLayout& to,
                    std::vector<uint8_t>* output) {
  output->clear();
  if (!source || count != from.length) return ConvertResult::Refused;
  output->assign(to.length, 0);
  uint8_t* target = output->data();
  copy_bytes(target, 0, source, 0, ChannelRecord::CHANNEL_PART_END);
  for (std::size_t slot = 0; slot < ChannelRecord::GEAR_COUNT; ++slot)
    convert_gear_entry(source + gear_entry_offset(from, slot), from, target + gear_entry_offset(to, slot), to);
  copy_bytes(target, to.group_table, source, from.group_table, ChannelRecord::GROUP_COUNT * GroupEntry::SIZE);
  copy_bytes(target, trailing_word_offset(to), source, trailing_word_offset(from), ChannelRecord::TRAILING_WORD_SIZE);
  finish_conversion(source, output, to.version);
  return ConvertResult::Ok;
}

// What the dispatch decided for one record.
enum class Step { Copy, Channel1To2, Channel1To3, Channel2To3, Input2To3, Downgrade, Refuse, MissingArgument };

struct Plan {
  Step step;
  const char* kind = nullptr;  // for a downgrade: "dali" or "dalicd", with the two versions
  uint32_t from = 0, to = 0;
  std::string reason = "";     // for a refusal: why
};

Plan plan_channel(uint32_t version, uint32_t target) {
  if (version <= 1) {
    if (target <= 1) return {Step::Copy};
    return {target == 2 ? Step::Channel1To2 : Step::Channel1To3};
  }
  if (version > 3) return {Step::Refuse, nullptr, 0, 0, "record version " + std::to_string(version) + " is unknown"};
  if (version == target) return {Step::Copy};
  if (version == 2 && target == 3) return {Step::Channel2To3};
  return {Step::Downgrade, "dali", version, target};
}

Plan plan_input(uint32_t version, uint32_t target) {
  // Version 1 has no known layout and version 3 is the newest: both go as they are.
  if (version == 1 || version == 3) return {Step::Copy};
  if (version != 2) return {Step::Refuse, nullptr, 0, 0, "record version " + std::to_string(version) + " is unknown"};
  if (target == 2) return {Step::Copy};
  if (target == 3) return {Step::Input2To3};
  return {Step::Downgrade, "dalicd", version, target};
}

Plan plan_conversion(uint32_t code, const char* firmware_version, const uint8_t* data, std::size_t count) {
  if (!data) return {Step::MissingArgument};
  if (code > LAST_CODE) return {Step::Refuse, nullptr, 0, 0, "no configuration has code " + std::to_string(code)};
  if (code == SYSTEM_CONFIGURATION || code > LAST_INPUT) return {Step::Copy};
  if (!firmware_version) return {Step::MissingArgument};
  if (std::string problem = record_layout_problem(code, data, count); !problem.empty())
    return {Step::Refuse, nullptr, 0, 0, std::move(problem)};
  const uint32_t version = get_le32(data, RecordHeader::VERSION);
  if (code >= FIRST_CHANNEL && code <= LAST_CHANNEL)
    return plan_channel(version, channel_record_version(firmware_version));
  return plan_input(version, input_record_version(firmware_version));
}

}  // namespace

ConvertResult convert_channel_1_to_2(const uint8_t* source, std::size_t count, std::vector<uint8_t>* output) {
  return convert_channel(source, count, CHANNEL_V1, CHANNEL_V2, output);
}

ConvertResult convert_channel_2_to_3(const uint8_t* source, std::size_t count, std::vector<uint8_t>* output) {
  return convert_channel(source, count, CHANNEL_V2, CHANNEL_V3, output);
}

ConvertResult convert_channel_1_to_3(const uint8_t* source, std::size_t count, std::vector<uint8_t>* output) {
  return convert_channel(source, count, CHANNEL_V1, CHANNEL_V3, output);
}

ConvertResult convert_input_2_to_3(const uint8_t* source, std::size_t count, std::vector<uint8_t>* output) {
  output->clear();
  if (!source || count != INPUT_V2.length) return ConvertResult::Refused;
  output->assign(INPUT_V3.length, 0);
  uint8_t* target = output->data();
  copy_bytes(target, 0, source, 0, InputDeviceRecord::COMMON_PART_END);
  for (std::size_t device = 0; device < InputDeviceRecord::DEVICE_COUNT; ++device) {
    const std::size_t entry = input_device_offset(device);
    copy_bytes(target, entry, source, entry, InputDeviceEntry::CONVERTED_SIZE);
    const uint8_t* b2 = source + instance_block_offset(INPUT_V2, device);
    uint8_t* b3 = target + instance_block_offset(INPUT_V3, device);
    for (std::size_t k = 0; k < InputDeviceEntry::INSTANCE_SLOTS; ++k) {
      const uint8_t type = source[entry + InputDeviceEntry::INSTANCES + 2 * k];
      // Version 2 packs each type at its own stride; version 3 gives every instance 6 bytes.
      const std::size_t size = instance_settings_size(type);
      copy_bytes(b3, InstanceBlockV3::INSTANCES + InstanceBlockV3::INSTANCE_SIZE * k, b2, size * k, size);
    }
    // The setting byte belongs to each device, so every device keeps its own.
    b3[InstanceBlockV3::SETTING] = b2[InstanceBlockV2::SETTING];
  }
  finish_conversion(source, output, INPUT_V3.version);
  return ConvertResult::Ok;
}

ConvertResult convert_record_by_code(uint32_t code, const char* firmware_version, const uint8_t* data, std::size_t count,
                           std::vector<uint8_t>* output, std::string* refusal) {
  if (refusal) refusal->clear();
  if (!output) return ConvertResult::MissingArgument;
  output->clear();
  const Plan plan = plan_conversion(code, firmware_version, data, count);
  switch (plan.step) {
    case Step::Copy: output->assign(data, data + count); return ConvertResult::Ok;
    case Step::Channel1To2: return convert_channel_1_to_2(data, count, output);
    case Step::Channel1To3: return convert_channel_1_to_3(data, count, output);
    case Step::Channel2To3: return convert_channel_2_to_3(data, count, output);
    case Step::Input2To3: return convert_input_2_to_3(data, count, output);
    case Step::Downgrade:
      if (refusal) {
        *refusal = std::string("CONFIGURATION ") + plan.kind + " CONVERSION VERSION " + std::to_string(plan.from) +
                   " to " + std::to_string(plan.to) + " IS NOT SUPPORTED!";
      }
      return ConvertResult::Refused;
    case Step::Refuse:
      if (refusal) *refusal = plan.reason;
      return ConvertResult::Refused;
    case Step::MissingArgument: break;
  }
  return ConvertResult::MissingArgument;
}

bool record_passes_unchanged(uint32_t code, const char* firmware_version, const uint8_t* data, std::size_t count) {
  return plan_conversion(code, firmware_version, data, count).step == Step::Copy;
}

std::string record_layout_problem(uint32_t code, const uint8_t* data, std::size_t count) {
  if (code < FIRST_CHANNEL || code > LAST_INPUT || !data) return "";
  if (count < RecordHeader::SIZE) return "record of " + std::to_string(count) + " bytes has no header";
  const RecordHeader header = read_record_header(data);
  uint32_t length = 0;  // the layout's; 0 where the version has none we know
  if (code <= LAST_CHANNEL) {
    const ChannelLayout* layout = channel_layout(header.version);
    if (!layout) return "record version " + std::to_string(header.version) + " is unknown";
    length = layout->length;
  } else if (header.version == INPUT_V2.version || header.version == INPUT_V3.version) {
    length = header.version == INPUT_V2.version ? INPUT_V2.length : INPUT_V3.length;
  } else if (header.version != 1) {  // version 1 has no layout known here; it goes as it is
    return "record version " + std::to_string(header.version) + " is unknown";
  }
  const std::string version = "record version " + std::to_string(header.version);
  if (length && count != length)
    return version + " has " + std::to_string(length) + " bytes, this one " + std::to_string(count);
  // The gateway takes a record only when its length field matches the bytes it receives.
  if (header.length != count)
    return version + " says " + std::to_string(header.length) + " bytes but holds " + std::to_string(count);
  return "";
}
