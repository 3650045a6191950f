// Decoded views of the channel record and the input-device record: per slot,
// every field the CSV imports write, read through the layouts of records.h so
// that every record version gives the same view.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "records/records.h"

// A name field: its text up to the first NUL, and whether the rest is all NUL
// (the way the imports leave it).
struct NameField {
  std::string text;
  bool clean = true;
};

struct GearSlot {
  uint32_t slot = 0;
  uint32_t flags = 0;
  uint8_t address_byte = 0;
  // The DALI short address when flag bit 0 is set and the byte is 2 * a + 1.
  std::optional<uint8_t> short_address;
  // The device-type bytes as stored: one in versions 0/1, the type and the
  // byte after it in versions 2 and 3; 255 stands for none.
  std::vector<uint8_t> type_bytes;
  uint16_t groups = 0;
  std::array<uint8_t, 4> levels{};
  uint8_t fade_rate = 0;
  uint8_t fade_time = 0;
  std::array<uint8_t, GearEntry::SCENE_COUNT> scenes{};
  uint8_t marker = 0;
  NameField name;
  bool extra_block_clear = true;  // versions 0/1: the slot's 12-byte block is all zero

  // Something was ever set up in the slot: an address, an import, or a name.
  bool in_use() const;
  // The device types the gear has (type bytes other than 255).
  std::vector<uint8_t> device_types() const;
};

struct GroupSlot {
  uint32_t slot = 0;
  NameField name;
  uint8_t marker = 0;
  bool in_use() const;
};

struct ChannelView {
  std::string problem;  // why the record could not be decoded; empty when it was
  RecordHeader header;
  const ChannelLayout* layout = nullptr;
  uint32_t import_tag = 0;
  std::vector<GearSlot> gear;     // all 64 slots
  std::vector<GroupSlot> groups;  // all 16 slots
};

struct InputDevice {
  uint32_t slot = 0;
  uint32_t flags = 0;
  uint8_t address_byte = 0;
  std::optional<uint8_t> short_address;
  uint8_t instance_count = 0;
  uint8_t marker = 0;
  NameField name;
  std::array<uint8_t, InputDeviceEntry::INSTANCE_SLOTS> types{};
  std::array<uint8_t, InputDeviceEntry::INSTANCE_SLOTS> values{};
  uint8_t setting = 0;  // the device setting byte of its instance block
  // Each instance's 6 setting bytes as version 3 places them; a version-2
  // block is unpacked by instance type the way the conversion moves it.
  std::array<std::array<uint8_t, InstanceBlockV3::INSTANCE_SIZE>, InputDeviceEntry::INSTANCE_SLOTS> settings{};

  bool in_use() const;
};

struct InputView {
  std::string problem;
  RecordHeader header;
  const InputLayout* layout = nullptr;
  uint32_t import_tag = 0;
  std::vector<InputDevice> devices;  // all 32 slots
};

// Decodes a record in the layout its header's version names. A record shorter
// than that layout, or of a version without a layout, gives a problem.
ChannelView decode_channel_record(std::span<const uint8_t> record);
InputView decode_input_record(std::span<const uint8_t> record);

// Which bytes of a record of this layout the decoded view reads (the header
// included): bytes outside it are carried without being interpreted.
std::vector<bool> channel_field_bytes(const ChannelLayout& layout);
std::vector<bool> input_field_bytes(const InputLayout& layout);

// The DALI short address a stored address byte and flag word stand for.
std::optional<uint8_t> decode_short_address(uint32_t flags, uint8_t address_byte);
