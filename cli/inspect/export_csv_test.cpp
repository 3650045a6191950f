#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "inspect/inspect.h"
#include "testing/inspect_support.h"

namespace {

using namespace inspect_test;

// Random cell texts of the kinds the imports read, odd ones included.
struct CellMaker {
  std::mt19937 random;

  unsigned below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random); }
  // Slot numbers for the rows of one file: each slot once (rows for the same
  // slot accumulate import marks no single row can give back), out-of-range ones mixed in.
  std::vector<int> slots(int count) {
    std::vector<int> all;
    for (int slot = -1; slot <= count; ++slot) all.push_back(slot);
    std::shuffle(all.begin(), all.end(), random);
    all.resize(below(static_cast<unsigned>(all.size())));
    return all;
  }
  std::string number(unsigned n) { return std::to_string(below(n)); }

  std::string name(std::size_t longest) {
    static const std::string alphabet = "abcXYZ 019,\"#;\n\t\xc3\xa9\xe9-_";
    std::string text;
    for (std::size_t i = below(static_cast<unsigned>(longest + 6)); i > 0; --i)
      text += alphabet[below(static_cast<unsigned>(alphabet.size()))];
    // Unquoted blanks at a field's edges are dropped by the reader; always quote.
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
  }
  std::string address() {
    switch (below(5)) {
      case 0: return "null";
      case 1: return "";
      case 2: return number(255);
      case 3: return "\"\"\"" + number(64) + "\"\"\"";
      default: return number(64);
    }
  }
  std::string array(unsigned longest, unsigned values, bool nulls) {
    std::string out = "\"[";
    for (unsigned i = below(longest + 1); i > 0; --i) {
      out += nulls && below(4) == 0 ? "null" : number(values);
      if (i > 1) out += ',';
    }
    return out + "]\"";
  }
  std::string level() {
    const unsigned pick = below(6);
    return pick == 0 ? "null" : pick == 1 ? "false" : pick == 2 ? "FALSE" : number(300);
  }

  std::string channel_csv() {
    std::string csv = "#dali-channel-csv-version: 1\n";
    for (int slot : slots(64)) {
      csv += number(1000) + "," + std::to_string(slot) + "," + address() + "," + name(34) + "," + array(5, 40, false) +
             "," + level() + "," + (below(3) ? number(256) : "null") + "," + number(256) + "," + number(256) + "," +
             number(300) + "," + number(300) + "," + array(18, 256, true) + "\n";
    }
    return csv;
  }
  std::string group_csv() {
    std::string csv = "#dali-channel-groups-csv-version: 1\n";
    for (int slot : slots(16)) csv += number(9) + "," + std::to_string(slot) + "," + name(36) + "\n";
    return csv;
  }
  std::string input_csv() {
    std::string csv = "#dali-channel-inputs-csv-version: 1\n";
    for (int slot : slots(32)) {
      csv += number(100000) + "," + std::to_string(slot) + "," + address() + "," + name(18) + "," +
             std::to_string(random()) + "," + number(40) + "," + array(34, 6, true);
      for (int column = 8; column <= 20; ++column) csv += "," + array(34, 256, true);
      csv += "\n";
    }
    return csv;
  }
};

// A record a gateway could hold before the import: every byte random, but no
// slot in use (the export writes rows for those, so they would come back marked).
Bytes random_start(std::mt19937& random, const char* firmware) {
  const ChannelLayout& layout = *channel_layout(channel_record_version(firmware));
  Bytes record(layout.length);
  for (uint8_t& b : record) b = static_cast<uint8_t>(random());
  put_le32(record.data(), RecordHeader::LENGTH, layout.length);
  put_le32(record.data(), RecordHeader::VERSION, layout.version);
  for (std::size_t slot = 0; slot < ChannelRecord::GEAR_COUNT; ++slot) {
    uint8_t* e = record.data() + gear_entry_offset(layout, slot);
    e[GearEntry::FLAGS] &= 0xF4;  // bits 0, 1 and 3
    e[GearEntry::MARKER] = 0;
    std::fill(e + layout.name, e + layout.name + GearEntry::NAME_SIZE, uint8_t{0});
  }
  for (std::size_t slot = 0; slot < ChannelRecord::GROUP_COUNT; ++slot) {
    uint8_t* g = record.data() + group_entry_offset(layout, slot);
    std::fill(g, g + GroupEntry::NAME_SIZE, uint8_t{0});
    g[GroupEntry::MARKER] = 0;
  }
  return record;
}

// Where two records first differ behind the CRC, for the failure message.
std::string first_difference(const Bytes& a, const Bytes& b) {
  for (std::size_t i = RecordHeader::VERSION; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i]) return "byte " + std::to_string(i) + ": " + std::to_string(a[i]) + " != " + std::to_string(b[i]);
  return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
}

struct Kind {
  const char* name;
  CsvExport (*export_csv)(std::span<const uint8_t>);
  bool group;
};

class RoundTrip : public testing::TestWithParam<const char*> {};

// Random CSV imported onto a start record, exported, and imported again onto
// the same start: the records must be the same bytes.
TEST_P(RoundTrip, ChannelAndGroupCsvComeBackByteForByte) {
  const char* firmware = GetParam();
  for (const Kind& kind : {Kind{"channel", export_channel_csv, false}, Kind{"group", export_group_csv, true}}) {
    for (unsigned seed = 0; seed < 40; ++seed) {
      CellMaker cells{std::mt19937(seed)};
      const Bytes start = random_start(cells.random, firmware);
      const std::string csv = kind.group ? cells.group_csv() : cells.channel_csv();
      const Bytes first =
          kind.group ? channel_record(firmware, "", csv, start) : channel_record(firmware, csv, "", start);
      const CsvExport exported = kind.export_csv(first);
      ASSERT_EQ(exported.problem, "");
      const Bytes second = kind.group ? channel_record(firmware, "", exported.csv, start)
                                      : channel_record(firmware, exported.csv, "", start);
      ASSERT_EQ(first, second) << kind.name << " seed " << seed << " " << first_difference(first, second) << "\n"
                               << csv << "\nexported:\n"
                               << exported.csv;
    }
  }
}

std::string firmware_name(const testing::TestParamInfo<const char*>& param) {
  std::string name = std::string("firmware_") + param.param;
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Firmware, RoundTrip, testing::Values("1.3.0", "1.3.1", "1.5.0"), firmware_name);

TEST(RoundTripInputs, InputCsvComesBackByteForByte) {
  for (unsigned seed = 0; seed < 60; ++seed) {
    CellMaker cells{std::mt19937(seed)};
    const std::string csv = cells.input_csv();
    const Bytes first = input_record(csv);
    const CsvExport exported = export_input_csv(first);
    ASSERT_EQ(exported.problem, "");
    const Bytes second = input_record(exported.csv);
    ASSERT_EQ(first, second) << "seed " << seed << " " << first_difference(first, second) << "\n"
                             << csv << "\nexported:\n"
                             << exported.csv;
  }
}

// Values the imports cannot set are written as the nearest they can, and named.
TEST(ExportNotes, NameWhatTheImportCannotSet) {
  struct Case {
    const char* what;
    const char* firmware;
    std::size_t offset;  // into gear entry 2 of the layout
    uint8_t value;
    const char* field;
    const char* cell;  // expected somewhere in the row of slot 2
  };
  const ChannelLayout& v3 = CHANNEL_V3;
  const Case cases[] = {
      {"fade rate 0", "1.5.0", GearEntry::FADE_RATE, 0, "fade rate", ",1,"},
      {"fade time 40", "1.3.1", GearEntry::FADE_TIME, 40, "fade time", ",15,"},
      {"device type", "1.5.0", v3.device_type, 8, "device type bytes", nullptr},
      {"no import mark", "1.3.0", GearEntry::MARKER, 7, "imported mark", nullptr},
      {"name from '#'", "1.5.0", v3.name, '#', "name", "\" #"},
  };
  const std::string gear = "#dali-channel-csv-version: 1\n5,2,4,Hall,[1],254,null,254,1,7,4,[1]\n";
  for (const Case& c : cases) {
    Bytes record = channel_record(c.firmware, gear, "");
    const ChannelLayout& layout = *channel_layout(channel_record_version(c.firmware));
    record[gear_entry_offset(layout, 2) + c.offset] = c.value;
    const CsvExport exported = export_channel_csv(record);
    ASSERT_EQ(exported.notes.size(), 1u) << c.what << "\n" << render_export_notes(exported.notes);
    EXPECT_EQ(exported.notes[0].slot, 2) << c.what;
    EXPECT_EQ(exported.notes[0].field, c.field) << c.what;
    if (c.cell) {
      EXPECT_NE(exported.csv.find(c.cell), std::string::npos) << c.what << "\n" << exported.csv;
    }
  }
}

TEST(ExportNotes, InputBytesNoColumnCarriesAreNamed) {
  // Occupancy-sensor setting byte 0 is not read from any column.
  Bytes record = input_record("#dali-channel-inputs-csv-version: 1\n1,0,3,Sensor,0,1,[3],[0],,,,,,,,[5],[6],[7],,\n");
  record[instance_block_offset(INPUT_V3, 0) + InstanceBlockV3::INSTANCES] = 9;
  record[RecordHeader::SIZE + 5] = 1;  // a carried word of the record
  const CsvExport exported = export_input_csv(record);
  ASSERT_EQ(exported.notes.size(), 2u) << render_export_notes(exported.notes);
  EXPECT_EQ(exported.notes[0].field, "instance 0 setting byte 0");
  EXPECT_EQ(exported.notes[1].field, "bytes no column carries");
  EXPECT_NE(exported.csv.find("1,0,3,\"Sensor\",3,1,\"[3]\",\"[]\",\"[]\""), std::string::npos) << exported.csv;
}

TEST(ExportProblems, RecordsWithoutLayoutAreRefused) {
  Bytes record(64, 0);
  put_le32(record.data(), RecordHeader::VERSION, 9);
  EXPECT_NE(export_channel_csv(record).problem, "");
  EXPECT_NE(export_input_csv(Bytes(9000, 0)).problem, "");  // version 0: no layout
  Bytes short_v3 = channel_record("1.5.0", "", "");
  short_v3.resize(7000);
  EXPECT_NE(export_group_csv(short_v3).problem, "");
}

}  // namespace
