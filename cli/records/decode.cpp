#include "records/decode.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t NO_TYPE = GearEntry::NO_DEVICE_TYPE;
constexpr uint8_t MARKED = 255;
constexpr std::size_t DALI_ADDRESSES = 64;

NameField read_name(const uint8_t* field, std::size_t size) {
  const auto* end = static_cast<const uint8_t*>(std::memchr(field, 0, size));
  const std::size_t length = end ? static_cast<std::size_t>(end - field) : size;
  NameField name;
  name.text.assign(reinterpret_cast<const char*>(field), length);
  // The imports always leave the last byte NUL and fill behind the text with NUL.
  name.clean = end && std::all_of(field + length, field + size, [](uint8_t b) { return b == 0; });
  return name;
}

bool all_zero(const uint8_t* bytes, std::size_t count) {
  return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

GearSlot read_gear(const uint8_t* record, const ChannelLayout& layout, uint32_t slot) {
  const uint8_t* e = record + gear_entry_offset(layout, slot);
  GearSlot gear;
  gear.slot = slot;
  gear.flags = get_le32(e, GearEntry::FLAGS);
  gear.address_byte = e[GearEntry::SHORT_ADDRESS];
  gear.short_address = decode_short_address(gear.flags, gear.address_byte);
  // Layout 1 has one type byte; later layouts keep a second one beside it.
  const std::size_t type_count = layout.extra_table ? 1 : 2;
  gear.type_bytes.assign(e + layout.device_type, e + layout.device_type + type_count);
  gear.groups = get_le16(e, GearEntry::GROUP_MASK);
  gear.levels = {e[GearEntry::LEVEL_1], e[GearEntry::LEVEL_2], e[GearEntry::LEVEL_3], e[GearEntry::LEVEL_4]};
  gear.fade_rate = e[GearEntry::FADE_RATE];
  gear.fade_time = e[GearEntry::FADE_TIME];
  std::memcpy(gear.scenes.data(), e + GearEntry::SCENES, GearEntry::SCENE_COUNT);
  gear.marker = e[GearEntry::MARKER];
  gear.name = read_name(e + layout.name, GearEntry::NAME_SIZE);
  if (layout.extra_table)
    gear.extra_block_clear = all_zero(record + extra_block_offset(layout, slot), ChannelRecord::EXTRA_BLOCK_SIZE);
  return gear;
}

// Version-2 blocks pack each type's settings at its own stride; version 3
// gives every instance 6 bytes.
void read_settings(const uint8_t* block, const InputLayout& layout, InputDevice& device) {
  for (std::size_t k = 0; k < InputDeviceEntry::INSTANCE_SLOTS; ++k) {
    auto& settings = device.settings[k];
    if (layout.version == INPUT_V3.version) {
      std::memcpy(settings.data(), block + InstanceBlockV3::INSTANCES + InstanceBlockV3::INSTANCE_SIZE * k,
                  settings.size());
    } else {
      const std::size_t size = instance_settings_size(device.types[k]);
      std::memcpy(settings.data(), block + size * k, size);
    }
  }
  device.setting = block[layout.version == INPUT_V3.version ? InstanceBlockV3::SETTING : InstanceBlockV2::SETTING];
}

InputDevice read_device(const uint8_t* record, const InputLayout& layout, uint32_t slot) {
  const uint8_t* e = record + input_device_offset(slot);
  InputDevice device;
  device.slot = slot;
  device.flags = get_le32(e, InputDeviceEntry::FLAGS);
  device.address_byte = e[InputDeviceEntry::SHORT_ADDRESS];
  device.short_address = decode_short_address(device.flags, device.address_byte);
  device.instance_count = e[InputDeviceEntry::INSTANCE_COUNT];
  device.marker = e[InputDeviceEntry::MARKER];
  device.name = read_name(e + InputDeviceEntry::NAME, InputDeviceEntry::NAME_SIZE);
  for (std::size_t k = 0; k < InputDeviceEntry::INSTANCE_SLOTS; ++k) {
    device.types[k] = e[InputDeviceEntry::INSTANCES + 2 * k];
    device.values[k] = e[InputDeviceEntry::INSTANCES + 2 * k + 1];
  }
  read_settings(record + instance_block_offset(layout, slot), layout, device);
  return device;
}

void mark(std::vector<bool>& bytes, std::size_t from, std::size_t count) {
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(from),
            bytes.begin() + static_cast<std::ptrdiff_t>(from + count), true);
}

std::string too_short(std::size_t size, uint32_t version, uint32_t length) {
  return "record of " + std::to_string(size) + " bytes, version " + std::to_string(version) + " needs " +
         std::to_string(length);
}

const InputLayout* input_layout(uint32_t version) {
  return version == INPUT_V2.version ? &INPUT_V2 : version == INPUT_V3.version ? &INPUT_V3 : nullptr;
}

// Reads the header and finds the layout it names, which the record must fill;
// false with the view's problem set otherwise (and no layout kept).
template <typename View, typename Layout>
bool read_header_and_layout(std::span<const uint8_t> record, View& view, const Layout* (*find)(uint32_t),
                            const char* unknown_version) {
  if (record.size() < RecordHeader::SIZE) {
    view.problem = "record of " + std::to_string(record.size()) + " bytes has no header";
    return false;
  }
  view.header = read_record_header(record.data());
  view.layout = find(view.header.version);
  if (!view.layout) {
    view.problem = unknown_version + std::to_string(view.header.version);
    return false;
  }
  if (record.size() < view.layout->length) {
    view.problem = too_short(record.size(), view.header.version, view.layout->length);
    view.layout = nullptr;
    return false;
  }
  return true;
}

}  // namespace

std::optional<uint8_t> decode_short_address(uint32_t flags, uint8_t address_byte) {
  if (!(flags & GearEntry::FLAG_ADDRESSED) || address_byte % 2 == 0 || address_byte / 2 >= DALI_ADDRESSES)
    return std::nullopt;
  return static_cast<uint8_t>(address_byte / 2);
}

std::vector<bool> channel_field_bytes(const ChannelLayout& layout) {
  std::vector<bool> bytes(layout.length, false);
  mark(bytes, 0, ChannelRecord::IMPORT_TAG + 4);
  for (std::size_t slot = 0; slot < ChannelRecord::GEAR_COUNT; ++slot) {
    const std::size_t e = gear_entry_offset(layout, slot);
    mark(bytes, e + GearEntry::FLAGS, 4);
    mark(bytes, e + GearEntry::LEVEL_1, GearEntry::SHORT_ADDRESS - GearEntry::LEVEL_1 + 1);
    mark(bytes, e + GearEntry::GROUP_MASK, 2);
    mark(bytes, e + GearEntry::SCENES, GearEntry::SCENE_COUNT);
    mark(bytes, e + layout.device_type, layout.extra_table ? 1 : 2);
    mark(bytes, e + layout.name, GearEntry::NAME_SIZE);
  }
  for (std::size_t slot = 0; slot < ChannelRecord::GROUP_COUNT; ++slot)
    mark(bytes, group_entry_offset(layout, slot) + GroupEntry::NAME, GroupEntry::NAME_SIZE);
  return bytes;
}

std::vector<bool> input_field_bytes(const InputLayout& layout) {
  std::vector<bool> bytes(layout.length, false);
  mark(bytes, 0, InputDeviceRecord::IMPORT_TAG + 4);
  for (std::size_t slot = 0; slot < InputDeviceRecord::DEVICE_COUNT; ++slot) {
    const std::size_t e = input_device_offset(slot);
    mark(bytes, e + InputDeviceEntry::FLAGS, 4);
    mark(bytes, e + InputDeviceEntry::SHORT_ADDRESS, 1);
    mark(bytes, e + InputDeviceEntry::INSTANCE_COUNT, 1);
    mark(bytes, e + InputDeviceEntry::INSTANCES, 2 * InputDeviceEntry::INSTANCE_SLOTS);
    mark(bytes, e + InputDeviceEntry::NAME, InputDeviceEntry::NAME_SIZE);
    const std::size_t block = instance_block_offset(layout, slot);
    if (layout.version == INPUT_V3.version) {
      mark(bytes, block + InstanceBlockV3::SETTING, 1);
      mark(bytes, block + InstanceBlockV3::INSTANCES,
           InstanceBlockV3::INSTANCE_SIZE * InputDeviceEntry::INSTANCE_SLOTS);
    } else {
      mark(bytes, block, InstanceBlockV2::SETTING + 1);
    }
  }
  return bytes;
}

bool GearSlot::in_use() const {
  const uint32_t set_up = GearEntry::FLAG_ADDRESSED | GearEntry::FLAG_IMPORTED | GearEntry::FLAG_IMPORTED_OFF;
  return (flags & set_up) || marker == MARKED || !name.text.empty();
}

std::vector<uint8_t> GearSlot::device_types() const {
  std::vector<uint8_t> types;
  for (uint8_t type : type_bytes)
    if (type != NO_TYPE) types.push_back(type);
  return types;
}

bool GroupSlot::in_use() const { return marker == MARKED || !name.text.empty(); }

bool InputDevice::in_use() const {
  const uint32_t set_up = InputDeviceEntry::FLAG_ADDRESSED | InputDeviceEntry::FLAG_IMPORTED;
  return (flags & set_up) || marker == MARKED || !name.text.empty();
}

ChannelView decode_channel_record(std::span<const uint8_t> record) {
  ChannelView view;
  if (!read_header_and_layout(record, view, channel_layout, "unknown record version ")) return view;
  view.import_tag = get_le32(record.data(), ChannelRecord::IMPORT_TAG);
  for (uint32_t slot = 0; slot < ChannelRecord::GEAR_COUNT; ++slot)
    view.gear.push_back(read_gear(record.data(), *view.layout, slot));
  for (uint32_t slot = 0; slot < ChannelRecord::GROUP_COUNT; ++slot) {
    const uint8_t* g = record.data() + group_entry_offset(*view.layout, slot);
    view.groups.push_back({slot, read_name(g + GroupEntry::NAME, GroupEntry::NAME_SIZE), g[GroupEntry::MARKER]});
  }
  return view;
}

InputView decode_input_record(std::span<const uint8_t> record) {
  InputView view;
  if (!read_header_and_layout(record, view, input_layout, "no known layout for record version ")) return view;
  view.import_tag = get_le32(record.data(), InputDeviceRecord::IMPORT_TAG);
  for (uint32_t slot = 0; slot < InputDeviceRecord::DEVICE_COUNT; ++slot)
    view.devices.push_back(read_device(record.data(), *view.layout, slot));
  return view;
}
