#include <gtest/gtest.h>

#include <tuple>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "records/records.h"

// The records here are built and read with literal offsets taken from the
// record layouts, independently of the named offsets of records.h, so that a
// wrong constant there shows up as a misplaced field.
namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void fill(Bytes& b, std::size_t at, std::size_t n, uint8_t seed) {
  for (std::size_t i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(seed + 7 * i);
}
void put_text(Bytes& b, std::size_t at, const std::string& s) { std::memcpy(&b[at], s.c_str(), s.size() + 1); }

Bytes header(uint32_t length, uint32_t version, uint32_t change_count) {
  Bytes b(length, 0);
  put32(b, 0, length);
  put32(b, 4, 0xDEAD);  // stale CRC: a conversion must replace it
  put32(b, 8, version);
  put32(b, 12, change_count);
  return b;
}

// First differing offset, so that a failure names the misplaced field.
std::string first_difference(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return "offset " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " + std::to_string(b[i]);
  return "none";
}

// The header and CRC of a converted record, then the header blanked so that
// the bodies can be compared whole.
void expect_converted_header(Bytes& out, uint32_t length, uint32_t version, uint32_t change_count) {
  ASSERT_EQ(out.size(), length);
  EXPECT_EQ(get32(out, 0), length);
  EXPECT_EQ(get32(out, 8), version);
  EXPECT_EQ(get32(out, 12), change_count);
  const uint32_t stored = get32(out, 4);
  EXPECT_EQ(stored >> 16, 0u);
  put32(out, 4, 0);
  EXPECT_EQ(record_crc16(out.data(), out.size()), stored);
  for (int i = 0; i < 16; ++i) out[i] = 0;
}

// ---- channel records ---------------------------------------------------------

// One gear slot, by meaning. `type` is the device type as the source stores it.
struct Gear {
  uint8_t seed;  // varies the carried and level bytes from slot to slot
  uint8_t type;
  std::string name;
};

// Common part, offsets 0..42 in every version.
void put_common(Bytes& b, std::size_t e, const Gear& g) {
  fill(b, e, 43, g.seed);          // flags, carried, levels, fade, carried ...
  put32(b, e + 0, 0x0000'0103u + g.seed);
  b[e + 11] = static_cast<uint8_t>(2 * (g.seed % 64) + 1);
  b[e + 18] = static_cast<uint8_t>(g.seed);  // group mask
  b[e + 19] = 0x80;
  for (int s = 0; s < 16; ++s) b[e + 20 + s] = static_cast<uint8_t>(s == 3 ? 255 : g.seed + s);
  b[e + 36] = 255;
}
void put_tail(Bytes& b, std::size_t name, std::size_t after, std::size_t word, std::size_t closing, const Gear& g) {
  put_text(b, name, g.name);
  b[after] = static_cast<uint8_t>(0x40 + g.seed);
  put32(b, word, 0x1122'3300u + g.seed);
  fill(b, closing, 16, static_cast<uint8_t>(0x90 + g.seed));
}
std::size_t type_size(uint8_t type) { return type == 5 ? 3 : type == 6 ? 7 : type == 8 ? 50 : 0; }

void put_gear_v1(Bytes& b, int slot, const Gear& g) {
  const std::size_t e = 60 + 152 * slot;
  put_common(b, e, g);
  b[e + 42] = g.type;
  b[e + 43] = 0xEE;  // dropped by every conversion
  fill(b, e + 44, 50, static_cast<uint8_t>(0x20 + g.type));
  put_tail(b, e + 94, e + 127, e + 128, e + 136, g);
  put32(b, e + 132, 0xCAFEF00Du);  // dropped
}
void put_gear_v2(Bytes& b, int slot, const Gear& g, uint8_t after_type, bool with_type_data) {
  const std::size_t e = 60 + 160 * slot;
  put_common(b, e, g);
  b[e + 44] = g.type;
  b[e + 45] = after_type;
  const std::size_t at = g.type == 5 ? 46 : g.type == 6 ? 49 : 56;
  if (with_type_data && type_size(g.type)) fill(b, e + at, type_size(g.type), static_cast<uint8_t>(0x20 + g.type));
  put_tail(b, e + 106, e + 139, e + 140, e + 144, g);
}
void put_gear_v3(Bytes& b, int slot, const Gear& g, uint8_t after_type) {
  const std::size_t e = 60 + 100 * slot;
  put_common(b, e, g);
  b[e + 43] = g.type;
  b[e + 44] = after_type;
  put_tail(b, e + 45, e + 78, e + 80, e + 84, g);
}

// Slots with device types 5, 6 and 8, an unknown type (3), no type (255) and an empty slot.
struct Slot {
  int index;
  Gear gear;
};
const std::array<Slot, 6> kSlots{{{0, {11, 5, "Corridor"}},
                                  {1, {22, 6, "Emergency exit"}},
                                  {2, {33, 8, "Tunable white 32 characters long"}},
                                  {17, {44, 3, "Unknown type"}},
                                  {40, {55, 255, "No type"}},
                                  {63, {66, 8, "Last"}}}};

uint8_t known_or_none(uint8_t type) { return type == 5 || type == 6 || type == 8 ? type : 255; }

void put_channel_words(Bytes& b) {
  put32(b, 16, 0xA1B2C3D4u);  // import tag
  fill(b, 20, 39, 0x31);      // channel-wide words up to offset 58
}
void put_groups(Bytes& b, std::size_t table) {
  for (int g = 0; g < 16; ++g) {
    fill(b, table + 38 * g, 38, static_cast<uint8_t>(g * 3));
    put_text(b, table + 38 * g, "Group " + std::to_string(g));
  }
}

Bytes channel_v1() {
  Bytes b = header(11168, 1, 41);
  put_channel_words(b);
  b[59] = 0x77;  // cleared by a conversion
  for (const Slot& s : kSlots) put_gear_v1(b, s.index, s.gear);
  put_groups(b, 9788);
  fill(b, 10396, 64 * 12, 0x5A);  // the 12-byte blocks have no place in later versions
  put32(b, 11164, 0x0BADBEEFu);
  return b;
}

Bytes channel_v2(bool for_source) {
  Bytes b = header(10912, 2, 5);
  put_channel_words(b);
  if (for_source) b[59] = 0x77;
  // From version 1 even an empty slot gets "no type" and 255 behind it.
  for (int i = 0; !for_source && i < 64; ++i) b[60 + 160 * i + 44] = b[60 + 160 * i + 45] = 255;
  for (const Slot& s : kSlots) {
    Gear g = s.gear;
    if (!for_source) g.type = known_or_none(g.type);
    // A source carries arbitrary bytes after the type; a version 1 conversion writes 255 there.
    put_gear_v2(b, s.index, g, for_source ? static_cast<uint8_t>(0x60 + s.index) : 255, true);
    if (!for_source) b[60 + 160 * s.index + 42] = s.gear.type;  // version 1's type byte is carried
  }
  put_groups(b, 10300);
  put32(b, 10908, 0x0BADBEEFu);
  return b;
}

Bytes expected_v3(bool from_v1) {
  Bytes b(7072, 0);
  put_channel_words(b);
  for (int i = 0; from_v1 && i < 64; ++i) b[60 + 100 * i + 43] = b[60 + 100 * i + 44] = 255;
  for (const Slot& s : kSlots) {
    Gear g = s.gear;
    if (from_v1) g.type = known_or_none(g.type);
    put_gear_v3(b, s.index, g, from_v1 ? 255 : static_cast<uint8_t>(0x60 + s.index));
    if (from_v1) b[60 + 100 * s.index + 42] = s.gear.type;
  }
  put_groups(b, 6460);
  put32(b, 7068, 0x0BADBEEFu);
  return b;
}

TEST(ChannelConversion, OneToTwoMovesEveryFieldAndTypeDataByType) {
  const Bytes source = channel_v1();
  Bytes out;
  ASSERT_EQ(convert_channel_1_to_2(source.data(), source.size(), &out), ConvertResult::Ok);
  expect_converted_header(out, 10912, 2, 42);
  Bytes expected = channel_v2(false);
  for (int i = 0; i < 16; ++i) expected[i] = 0;
  // Spot checks that say what the whole-buffer comparison means.
  EXPECT_EQ(out[60 + 160 * 2 + 44], 8);
  EXPECT_EQ(out[60 + 160 * 2 + 56], 0x28);            // type 8 data moved to 56
  EXPECT_EQ(out[60 + 160 * 0 + 49], 0);               // type 5 has no type-6 data
  EXPECT_EQ(out[60 + 160 * 17 + 44], 255);            // unknown type marked none
  EXPECT_EQ(out[60 + 160 * 17 + 46], 0);              // ... and loses its data
  EXPECT_EQ(out[59], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[60 + 160 * 2 + 106])),
            "Tunable white 32 characters long");
  EXPECT_EQ(first_difference(out, expected), "none");
}

TEST(ChannelConversion, OneToThreeDropsTypeDataAndExtraBlocks) {
  const Bytes source = channel_v1();
  Bytes out;
  ASSERT_EQ(convert_channel_1_to_3(source.data(), source.size(), &out), ConvertResult::Ok);
  expect_converted_header(out, 7072, 3, 42);
  EXPECT_EQ(out[60 + 100 * 63 + 43], 8);
  EXPECT_EQ(out[60 + 100 * 63 + 44], 255);
  EXPECT_EQ(get32(out, 16), 0xA1B2C3D4u);
  EXPECT_EQ(first_difference(out, expected_v3(true)), "none");
}

TEST(ChannelConversion, TwoToThreeCarriesTypeAndFollowingByte) {
  const Bytes source = channel_v2(true);
  Bytes out;
  ASSERT_EQ(convert_channel_2_to_3(source.data(), source.size(), &out), ConvertResult::Ok);
  expect_converted_header(out, 7072, 3, 6);
  // An unknown type byte is carried as it is: version 2 already holds a checked type.
  EXPECT_EQ(out[60 + 100 * 17 + 43], 3);
  EXPECT_EQ(first_difference(out, expected_v3(false)), "none");
}

TEST(ChannelConversion, WrongSourceLengthIsRefused) {
  Bytes source = channel_v1();
  Bytes out{1, 2, 3};
  EXPECT_EQ(convert_channel_1_to_3(source.data(), 11000, &out), ConvertResult::Refused);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(convert_channel_1_to_2(source.data(), 11169, &out), ConvertResult::Refused);
  EXPECT_EQ(convert_channel_2_to_3(source.data(), 11168, &out), ConvertResult::Refused);
  EXPECT_EQ(convert_input_2_to_3(source.data(), 9564, &out), ConvertResult::Refused);
}

// ---- input-device records -----------------------------------------------------

struct Device {
  int index;
  std::vector<uint8_t> types;  // instance types, pair k
  uint8_t setting;
};
const std::array<Device, 4> kDevices{{{0, {2, 1, 4}, 0x11},      // push button after a type without settings
                                      {1, {3, 3, 1, 4, 1}, 0x22},
                                      {5, {4}, 0x33},            // no push button: keeps its setting too
                                      {31, std::vector<uint8_t>(32, 1), 0x44}}};

void put_device_entry(Bytes& b, const Device& d, bool with_tail) {
  const std::size_t e = 28 + 100 * d.index;
  fill(b, e, 16, static_cast<uint8_t>(d.index * 5));
  b[e + 8] = static_cast<uint8_t>(2 * d.index + 1);
  b[e + 10] = static_cast<uint8_t>(d.types.size());
  b[e + 13] = 255;
  for (std::size_t k = 0; k < d.types.size(); ++k) {
    b[e + 16 + 2 * k] = d.types[k];
    b[e + 17 + 2 * k] = static_cast<uint8_t>(k + 100);
  }
  put_text(b, e + 80, "Device " + std::to_string(d.index));
  if (with_tail) fill(b, e + 97, 3, 0xF0);
}
uint8_t setting_byte(const Device& d, std::size_t k, std::size_t i) {
  return static_cast<uint8_t>(d.index * 16 + k * 8 + i + 1);
}
std::size_t settings_of(uint8_t type) { return type == 1 ? 6 : type == 3 ? 4 : type == 4 ? 3 : 0; }

Bytes input_v2() {
  Bytes b = header(9436, 2, 9);
  put32(b, 16, 0x01020304u);
  fill(b, 20, 8, 0xC0);
  for (const Device& d : kDevices) {
    put_device_entry(b, d, true);
    const std::size_t block = 3228 + 194 * d.index;
    // Fill the whole packed area with noise first; only the typed strides are meaningful.
    fill(b, block, 192, 0xA0);
    for (std::size_t k = 0; k < d.types.size(); ++k) {
      const std::size_t n = settings_of(d.types[k]);
      for (std::size_t i = 0; i < n; ++i) b[block + n * k + i] = setting_byte(d, k, i);
    }
    b[block + 192] = d.setting;
    b[block + 193] = 0xBB;
  }
  return b;
}

// Packed strides overlap: a later instance may overwrite an earlier one's
// bytes, so the expectation reads the source the way the gateway would.
Bytes expected_input_v3(const Bytes& source) {
  Bytes b(9564, 0);
  put32(b, 16, 0x01020304u);
  fill(b, 20, 8, 0xC0);
  for (const Device& d : kDevices) {
    put_device_entry(b, d, false);
    const std::size_t from = 3228 + 194 * d.index, to = 3228 + 198 * d.index;
    for (std::size_t k = 0; k < d.types.size(); ++k) {
      const std::size_t n = settings_of(d.types[k]);
      for (std::size_t i = 0; i < n; ++i) b[to + 6 + 6 * k + i] = source[from + n * k + i];
    }
    b[to + 1] = d.setting;
  }
  return b;
}

TEST(InputConversion, TwoToThreeMovesSettingsByInstanceType) {
  const Bytes source = input_v2();
  Bytes out;
  ASSERT_EQ(convert_input_2_to_3(source.data(), source.size(), &out), ConvertResult::Ok);
  expect_converted_header(out, 9564, 3, 10);
  const std::size_t dev1 = 3228 + 198 * 1;
  EXPECT_EQ(out[dev1 + 6 + 0], setting_byte(kDevices[1], 0, 0));   // type 3, instance 0
  EXPECT_EQ(out[dev1 + 6 + 6 * 2 + 5], setting_byte(kDevices[1], 2, 5));  // type 1, instance 2
  EXPECT_EQ(out[dev1 + 6 + 4], 0);                                  // type 3 uses 4 bytes only
  EXPECT_EQ(out[3228 + 6], 0);                                       // device 0, type 2: no settings
  EXPECT_EQ(out[28 + 97], 0);                                        // entry tail dropped
  EXPECT_EQ(first_difference(out, expected_input_v3(source)), "none");
}

TEST(InputConversion, EveryDeviceKeepsItsSettingByte) {
  const Bytes source = input_v2();
  Bytes out;
  ASSERT_EQ(convert_input_2_to_3(source.data(), source.size(), &out), ConvertResult::Ok);
  for (const Device& d : kDevices) EXPECT_EQ(out[3228 + 198 * d.index + 1], d.setting) << "device " << d.index;
}

// ---- dispatch -----------------------------------------------------------------

struct Dispatch {
  ConvertResult result;
  Bytes output;
  std::string printed;  // the refusal the caller reports
};

Dispatch dispatch(uint32_t code, const char* firmware, const Bytes& record) {
  Dispatch d;
  d.result = convert_record_by_code(code, firmware, record.data(), record.size(), &d.output, &d.printed);
  return d;
}

TEST(ConvertDispatch, ChannelRecordsGoToTheFirmwaresVersion) {
  const Bytes v1 = channel_v1();
  const Dispatch to3 = dispatch(2, "1.5.0", v1);
  EXPECT_EQ(to3.result, ConvertResult::Ok);
  EXPECT_EQ(to3.output.size(), 7072u);
  const Dispatch to2 = dispatch(2, "1.3.1", v1);
  EXPECT_EQ(to2.result, ConvertResult::Ok);
  EXPECT_EQ(to2.output.size(), 10912u);
  EXPECT_EQ(dispatch(1, "1.3.0", v1).output, v1);
  EXPECT_EQ(dispatch(1, "1.2.0", v1).output, v1);

  const Bytes v2 = channel_v2(true);
  EXPECT_EQ(dispatch(3, "1.4.9", v2).output, v2);
  EXPECT_EQ(dispatch(4, "2.2.4", v2).output.size(), 7072u);
  Bytes v3(7072, 0);
  put32(v3, 0, 7072);
  put32(v3, 8, 3);
  EXPECT_EQ(dispatch(4, "1.5.0", v3).output, v3);
}

TEST(ConvertDispatch, VersionZeroIsVersionOne) {
  Bytes v0 = channel_v1();
  put32(v0, 8, 0);
  EXPECT_EQ(dispatch(1, "1.3.0", v0).output, v0);
  const Dispatch up = dispatch(1, "1.5.0", v0);
  EXPECT_EQ(up.result, ConvertResult::Ok);
  EXPECT_EQ(get32(up.output, 8), 3u);
}

TEST(ConvertDispatch, RefusalsAndTheirMessages) {
  Bytes short_v1 = channel_v1();
  short_v1.resize(11000);
  const Dispatch cut = dispatch(1, "1.5.0", short_v1);
  EXPECT_EQ(cut.result, ConvertResult::Refused);
  EXPECT_TRUE(cut.output.empty());
  EXPECT_EQ(cut.printed, "record version 1 has 11168 bytes, this one 11000");

  Bytes v3(7072, 0);
  put32(v3, 0, 7072);
  put32(v3, 8, 3);
  const Dispatch down = dispatch(2, "1.3.1", v3);
  EXPECT_EQ(down.result, ConvertResult::Refused);
  EXPECT_TRUE(down.output.empty());
  EXPECT_EQ(down.printed, "CONFIGURATION dali CONVERSION VERSION 3 to 2 IS NOT SUPPORTED!");
  EXPECT_EQ(dispatch(2, "1.3.0", channel_v2(true)).printed,
            "CONFIGURATION dali CONVERSION VERSION 2 to 1 IS NOT SUPPORTED!");

  Bytes v4 = v3;
  put32(v4, 8, 4);
  const Dispatch unknown = dispatch(1, "1.5.0", v4);
  EXPECT_EQ(unknown.result, ConvertResult::Refused);
  EXPECT_EQ(unknown.printed, "record version 4 is unknown");

  // A layout that does not match its version is refused whatever the version, with the reason.
  Bytes lying_length = v3;
  put32(lying_length, 0, 0xFFFFFFFFu);
  Bytes input_v3(9564, 0);
  put32(input_v3, 0, 9564);
  put32(input_v3, 8, 3);
  const std::tuple<uint32_t, Bytes, std::string> impossible[] = {
      {1, Bytes(15, 0), "record of 15 bytes has no header"},
      {1, Bytes(v3.begin(), v3.begin() + 100), "record version 3 has 7072 bytes, this one 100"},
      {1, lying_length, "record version 3 says 4294967295 bytes but holds 7072"},
      {6, v3, "record version 3 has 9564 bytes, this one 7072"},
      {6, Bytes(input_v3.begin(), input_v3.end() - 1), "record version 3 has 9564 bytes, this one 9563"},
  };
  for (const auto& [code, record, reason] : impossible) {
    const Dispatch d = dispatch(code, "1.5.0", record);
    EXPECT_EQ(d.result, ConvertResult::Refused);
    EXPECT_EQ(d.printed, reason);
    EXPECT_FALSE(record_passes_unchanged(code, "1.5.0", record.data(), record.size()));
  }
}

TEST(ConvertDispatch, InputRecordsUseTheirOwnTable) {
  const Bytes v2 = input_v2();
  EXPECT_EQ(dispatch(5, "2.2.4", v2).output.size(), 9564u);
  EXPECT_EQ(dispatch(6, "2.0.0", v2).output, v2);   // table value 2
  EXPECT_EQ(dispatch(7, "1.5.0", v2).output, v2);   // channel table says 3, input table says 2
  const Dispatch down = dispatch(8, "0.9.0", v2);
  EXPECT_EQ(down.result, ConvertResult::Refused);
  EXPECT_EQ(down.printed, "CONFIGURATION dalicd CONVERSION VERSION 2 to 0 IS NOT SUPPORTED!");

  for (const uint32_t version : {1u, 3u}) {
    Bytes record(9564, 0x42);
    put32(record, 0, 9564);
    put32(record, 8, version);
    for (const char* firmware : {"0.1", "1.3.1", "2.2.4", "9.9.9"}) {
      const Dispatch d = dispatch(5, firmware, record);
      EXPECT_EQ(d.result, ConvertResult::Ok);
      EXPECT_EQ(d.output, record) << version << " " << firmware;
    }
  }
  for (const uint32_t version : {0u, 4u}) {
    Bytes record(9436, 0);
    put32(record, 8, version);
    const Dispatch d = dispatch(5, "2.2.4", record);
    EXPECT_EQ(d.result, ConvertResult::Refused);
    EXPECT_EQ(d.printed, "record version " + std::to_string(version) + " is unknown");
  }
}

TEST(ConvertDispatch, PlainConfigurationsPassUnchanged) {
  const Bytes opaque{9, 8, 7, 6, 5};
  for (const uint32_t code : {0u, 9u, 13u, 21u}) {
    const Dispatch d = dispatch(code, nullptr, opaque);
    EXPECT_EQ(d.result, ConvertResult::Ok) << code;
    EXPECT_EQ(d.output, opaque) << code;
  }
  EXPECT_EQ(dispatch(22, "1.5.0", opaque).result, ConvertResult::Refused);
  EXPECT_EQ(dispatch(1000, "1.5.0", opaque).result, ConvertResult::Refused);
}

TEST(ConvertDispatch, MissingArguments) {
  const Bytes v1 = channel_v1();
  EXPECT_EQ(dispatch(1, nullptr, v1).result, ConvertResult::MissingArgument);
  EXPECT_EQ(dispatch(5, nullptr, input_v2()).result, ConvertResult::MissingArgument);
  Bytes out;
  EXPECT_EQ(convert_record_by_code(0, "1.5.0", nullptr, 4, &out), ConvertResult::MissingArgument);
  EXPECT_EQ(convert_record_by_code(0, "1.5.0", v1.data(), v1.size(), nullptr), ConvertResult::MissingArgument);
}

TEST(ConvertDispatch, SourceIsNeverWritten) {
  const Bytes v1 = channel_v1();
  Bytes copy = v1;
  Bytes out;
  ASSERT_EQ(convert_record_by_code(1, "1.5.0", copy.data(), copy.size(), &out), ConvertResult::Ok);
  EXPECT_EQ(copy, v1);
}

}  // namespace

namespace {

TEST(ConvertDispatch, UnchangedPredictionAgreesWithTheConversion) {
  std::vector<Bytes> records{channel_v1(), channel_v2(true), input_v2(), Bytes(7072, 0), Bytes(9564, 0), Bytes(8, 1)};
  put32(records[3], 8, 3);
  put32(records[4], 8, 1);
  for (const uint32_t code : {0u, 1u, 4u, 5u, 8u, 9u, 22u})
    for (const char* firmware : {"0.9", "1.3.0", "1.3.1", "1.5.0", "2.2.4"})
      for (const Bytes& record : records) {
        const Dispatch d = dispatch(code, firmware, record);
        const bool unchanged = d.result == ConvertResult::Ok && d.output == record;
        EXPECT_EQ(record_passes_unchanged(code, firmware, record.data(), record.size()), unchanged)
            << code << " " << firmware << " " << record.size();
      }
}

}  // namespace
