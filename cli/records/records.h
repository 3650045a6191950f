// The gateway's binary channel records: the DALI channel record (dali%u.bin)
// and the input-device record (cd%u.bin) with their shared header and CRC,
// the firmware-to-version tables, and conversion between record versions.
// Records live in plain byte buffers; fields are reached through the named
// offsets below and the little-endian helpers of util/bytes.h. The records
// know nothing of archives or of the gateway: they work on bytes and a
// firmware version string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/bytes.h"

// The 16-byte header that opens both record kinds. The static members are
// byte offsets; the fields hold a decoded header.
struct RecordHeader {
  static constexpr std::size_t LENGTH = 0;        // total record length, header included
  static constexpr std::size_t CRC = 4;           // low 16 bits: record CRC; high 16 bits: 0
  static constexpr std::size_t VERSION = 8;       // layout version
  static constexpr std::size_t CHANGE_COUNT = 12; // raised by every version conversion
  static constexpr std::size_t SIZE = 16;

  uint32_t length = 0;
  uint32_t crc = 0;
  uint32_t version = 0;
  uint32_t change_count = 0;
};

// Decodes the first 16 bytes of `record` (which must hold at least that many).
RecordHeader read_record_header(const uint8_t* record);

// CRC-16/MCRF4XX: reflected polynomial 0x8408, start 0xFFFF, no final XOR.
uint16_t crc16_update(uint16_t crc, uint8_t byte);
uint16_t record_crc16(const uint8_t* data, std::size_t count);
// Computes the CRC over `length` bytes with the crc field zero and stores it
// zero-extended in that field.
void seal_record(uint8_t* record, std::size_t length);

// ---- DALI channel record ----------------------------------------------------

// Offsets and counts shared by every channel record version.
namespace ChannelRecord {
constexpr std::size_t IMPORT_TAG = 16;          // 32-bit, set by the channel CSV import (version 3)
constexpr std::size_t CHANNEL_PART_END = 59;    // bytes 0..58: header and channel-wide words
constexpr std::size_t CLEARED_BY_CONVERSION = 59;
constexpr std::size_t GEAR_TABLE = 60;
constexpr std::size_t GEAR_COUNT = 64;
constexpr std::size_t GROUP_COUNT = 16;
constexpr std::size_t EXTRA_BLOCK_SIZE = 12;    // versions 0/1: one block per gear slot
constexpr std::size_t TRAILING_WORD_SIZE = 4;   // last 4 bytes of every version
constexpr std::size_t IMAGE_SIZE = 11168;       // in-memory image: the largest version
}  // namespace ChannelRecord

// Offsets inside a GearEntry that are the same in every version.
namespace GearEntry {
constexpr std::size_t FLAGS = 0;  // 32-bit
constexpr uint32_t FLAG_ADDRESSED = 1u << 0;
constexpr uint32_t FLAG_IMPORTED = 1u << 1;
constexpr uint32_t FLAG_IMPORTED_OFF = 1u << 3;  // instead of FLAG_IMPORTED when level 1 read "false"
constexpr std::size_t LEVEL_1 = 5;               // 255 = none
constexpr std::size_t LEVEL_2 = 6;               // 255 = none
constexpr std::size_t LEVEL_3 = 7;
constexpr std::size_t LEVEL_4 = 8;
constexpr std::size_t FADE_RATE = 9;
constexpr std::size_t FADE_TIME = 10;
constexpr std::size_t SHORT_ADDRESS = 11;        // 2 * a + 1
constexpr std::size_t GROUP_MASK = 18;           // 16-bit, bit g = member of group g
constexpr std::size_t SCENES = 20;               // 16 levels, 255 = not in the scene
constexpr std::size_t SCENE_COUNT = 16;
constexpr std::size_t MARKER = 36;               // 255 once imported
constexpr std::size_t COMMON_SIZE = 43;          // bytes 0..42 map one to one between versions
constexpr std::size_t NAME_SIZE = 33;            // 32 characters and a NUL
constexpr std::size_t WORD_SIZE = 4;
constexpr std::size_t CLOSING_SIZE = 16;
// Sizes of the device-type data of DALI device types 5, 6 and 8.
constexpr std::size_t TYPE_5_SIZE = 3;
constexpr std::size_t TYPE_6_SIZE = 7;
constexpr std::size_t TYPE_8_SIZE = 50;
constexpr uint8_t NO_DEVICE_TYPE = 255;
}  // namespace GearEntry

// GroupEntry: 38 bytes, identical in all versions.
namespace GroupEntry {
constexpr std::size_t NAME = 0;
constexpr std::size_t NAME_SIZE = 33;
constexpr std::size_t MARKER = 36;  // 255 once imported
constexpr std::size_t SIZE = 38;
}  // namespace GroupEntry

// What differs between channel record versions. Gear offsets are relative to
// the start of a GearEntry; a type-data offset of 0 means the layout has none.
struct ChannelLayout {
  uint32_t version;      // value written into the header (versions 0 and 1 share layout 1)
  uint32_t length;
  uint32_t gear_size;
  uint32_t group_table;  // record offset of GroupEntry 0
  uint32_t extra_table;  // record offset of the 12-byte blocks; 0 when absent
  uint32_t device_type;  // DALI device type byte (5, 6, 8; 255 = none)
  uint32_t type_5_data;
  uint32_t type_6_data;
  uint32_t type_8_data;
  uint32_t name;
  uint32_t after_name;   // the byte behind the name
  uint32_t word;         // the 32-bit word
  uint32_t closing;      // the closing 16 bytes
};

// Version 1 keeps the data of all device types in one shared area.
inline constexpr ChannelLayout CHANNEL_V1{1, 11168, 152, 9788, 10396, 42, 44, 44, 44, 94, 127, 128, 136};
inline constexpr ChannelLayout CHANNEL_V2{2, 10912, 160, 10300, 0, 44, 46, 49, 56, 106, 139, 140, 144};
inline constexpr ChannelLayout CHANNEL_V3{3, 7072, 100, 6460, 0, 43, 0, 0, 0, 45, 78, 80, 84};

// The layout of a header version: 0 and 1 give CHANNEL_V1; nullptr above 3.
const ChannelLayout* channel_layout(uint32_t version);
// Record offset of gear slot 0..63, of group slot 0..15, and of the 12-byte block of gear slot 0..63.
constexpr std::size_t gear_entry_offset(const ChannelLayout& layout, std::size_t slot) {
  return ChannelRecord::GEAR_TABLE + layout.gear_size * slot;
}
constexpr std::size_t group_entry_offset(const ChannelLayout& layout, std::size_t slot) {
  return layout.group_table + GroupEntry::SIZE * slot;
}
constexpr std::size_t extra_block_offset(const ChannelLayout& layout, std::size_t slot) {
  return layout.extra_table + ChannelRecord::EXTRA_BLOCK_SIZE * slot;
}
constexpr std::size_t trailing_word_offset(const ChannelLayout& layout) {
  return layout.length - ChannelRecord::TRAILING_WORD_SIZE;
}

// Channel record version (0..3) that a firmware version calls for. Versions are
// compared as byte strings, never as numbers. nullptr gives 0; callers that
// must tell an unknown firmware apart check for it first.
uint32_t channel_record_version(const char* firmware_version);

// ---- Input-device record ----------------------------------------------------

namespace InputDeviceRecord {
constexpr std::size_t IMPORT_TAG = 16;   // 32-bit, set by the input-device CSV import
constexpr std::size_t COMMON_PART_END = 28;  // bytes 0..27: header, import tag, carried words
constexpr std::size_t DEVICE_TABLE = 28;
constexpr std::size_t DEVICE_COUNT = 32;
constexpr std::size_t BLOCK_TABLE = 3228;
constexpr std::size_t IMAGE_SIZE = 9564;  // version 3, the only version the setup path writes
}  // namespace InputDeviceRecord

// InputDeviceEntry: 100 bytes, identical in versions 2 and 3.
namespace InputDeviceEntry {
constexpr std::size_t FLAGS = 0;  // 32-bit
constexpr uint32_t FLAG_ADDRESSED = 1u << 0;
constexpr uint32_t FLAG_IMPORTED = 1u << 1;
constexpr std::size_t SHORT_ADDRESS = 8;   // 2 * a + 1; 255 = none
constexpr std::size_t INSTANCE_COUNT = 10; // 0..32
constexpr std::size_t MARKER = 13;         // 255 once imported
constexpr std::size_t INSTANCES = 16;      // 32 pairs: type byte, value byte
constexpr std::size_t INSTANCE_SLOTS = 32;
constexpr std::size_t NAME = 80;
constexpr std::size_t NAME_SIZE = 17;      // 16 characters and a NUL
constexpr std::size_t CONVERTED_SIZE = 97; // bytes 0..96 survive a conversion
constexpr std::size_t SIZE = 100;
// Instance types that carry settings.
constexpr uint8_t PUSH_BUTTON = 1;
constexpr uint8_t OCCUPANCY_SENSOR = 3;
constexpr uint8_t LIGHT_SENSOR = 4;
}  // namespace InputDeviceEntry

// InstanceBlock, version 3: one setting byte and 6 bytes per instance.
namespace InstanceBlockV3 {
constexpr std::size_t SETTING = 1;
constexpr std::size_t INSTANCES = 6;
constexpr std::size_t INSTANCE_SIZE = 6;
constexpr std::size_t SIZE = 198;
}  // namespace InstanceBlockV3

// InstanceBlock, version 2: instance settings packed by type in 192 bytes.
namespace InstanceBlockV2 {
constexpr std::size_t SETTING = 192;
constexpr std::size_t SIZE = 194;
}  // namespace InstanceBlockV2

// Bytes of instance settings per instance type; 0 for types without settings.
constexpr std::size_t instance_settings_size(uint8_t type) {
  return type == InputDeviceEntry::PUSH_BUTTON ? 6
         : type == InputDeviceEntry::OCCUPANCY_SENSOR ? 4
         : type == InputDeviceEntry::LIGHT_SENSOR ? 3
                                                  : 0;
}

struct InputLayout {
  uint32_t version;
  uint32_t length;
  uint32_t block_size;
};
inline constexpr InputLayout INPUT_V2{2, 9436, 194};
inline constexpr InputLayout INPUT_V3{3, 9564, 198};

constexpr std::size_t input_device_offset(std::size_t device) {
  return InputDeviceRecord::DEVICE_TABLE + InputDeviceEntry::SIZE * device;
}
constexpr std::size_t instance_block_offset(const InputLayout& layout, std::size_t device) {
  return InputDeviceRecord::BLOCK_TABLE + layout.block_size * device;
}

// Input-device record version (0, 2 or 3) that a firmware version calls for on
// restore; same comparison rule as channel_record_version.
uint32_t input_record_version(const char* firmware_version);


// ---- Version conversion -----------------------------------------------------

enum class ConvertResult {
  Ok,               // `output` holds the bytes to push
  MissingArgument,
  Refused,          // `refusal` says why
};

// Brings the record of a configuration (by its code) to the version that the
// gateway's firmware calls for; other configurations pass as a copy.
// On ConvertResult::Ok `output` holds the bytes to push; otherwise it is emptied.
// A refusal sets `refusal` (when given) to why: for a downgrade the message
// "CONFIGURATION %s CONVERSION VERSION %u to %u IS NOT SUPPORTED!", otherwise
// the record's problem (record_layout_problem). Codes 1..8 need the firmware version: without it the
// result is ConvertResult::MissingArgument.
ConvertResult convert_record_by_code(uint32_t code, const char* firmware_version, const uint8_t* data, std::size_t count,
                           std::vector<uint8_t>* output, std::string* refusal = nullptr);
// True when the conversion would hand these bytes back unchanged (a plain
// configuration, or a record the firmware takes as it is). Prints nothing.
bool record_passes_unchanged(uint32_t code, const char* firmware_version, const uint8_t* data, std::size_t count);

// Why a channel or input-device record (codes 1..8) cannot be what its header
// says: too short for a header, an unknown version, a length other than its
// version's layout, or a length field other than its byte count. Empty when
// it can be, and for every other configuration.
std::string record_layout_problem(uint32_t code, const uint8_t* data, std::size_t count);

// The four conversions. Each takes a record of exactly its source length
// (else ConvertResult::Refused and `output` emptied) and gives the new record with
// change_count one higher, the new version and length, and a fresh CRC.
ConvertResult convert_channel_1_to_2(const uint8_t* source, std::size_t count, std::vector<uint8_t>* output);
ConvertResult convert_channel_2_to_3(const uint8_t* source, std::size_t count, std::vector<uint8_t>* output);
ConvertResult convert_channel_1_to_3(const uint8_t* source, std::size_t count, std::vector<uint8_t>* output);
ConvertResult convert_input_2_to_3(const uint8_t* source, std::size_t count, std::vector<uint8_t>* output);
