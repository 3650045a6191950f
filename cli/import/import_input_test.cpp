#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "import/import.h"
#include "testing/import_support.h"

namespace {

using namespace import_test;

const std::string HEADER = "#dali-channel-inputs-csv-version: 1\n";

// A 20-field row; the arrays are given as JSON text and quoted for CSV. Each
// of the 11 setting columns (10 to 20) holds [v, v + 1, v + 2, v + 3] with
// v = 100 + 10 * (column - 10), so every byte tells where it came from.
std::string input_row(const std::string& slot, const std::string& address, const std::string& name,
                      const std::string& flags, const std::string& count, const std::string& types) {
  auto cell = [](const std::string& json) { return "\"" + json + "\""; };
  std::string row = "41," + slot + "," + address + "," + name + "," + flags + "," + count + "," + cell(types) + "," +
                    cell("[20,21,22]") + "," + cell("[9,8]");
  for (int column = 10; column <= 20; ++column) {
    const int v = 100 + 10 * (column - 10);
    row += "," + cell("[" + std::to_string(v) + "," + std::to_string(v + 1) + "," + std::to_string(v + 2) + "," +
                      std::to_string(v + 3) + "]");
  }
  return row + "\n";
}

// The value input_row puts at element k of setting column `column`.
uint8_t setting_value(int column, int k) { return static_cast<uint8_t>(100 + 10 * (column - 10) + k); }

class InputImport : public testing::Test {
 protected:
  uint32_t import(const std::string& csv) {
    const std::string path = write_file(csv);
    outcome = import_input_csv(&fetched, path.c_str(), area.get());
    return outcome.applied;
  }
  const uint8_t* device(uint32_t slot) const { return area->input_image + input_device(slot); }
  const uint8_t* block(uint32_t slot) const { return area->input_image + instance_block(slot); }
  // The 6 setting bytes of instance k of a device.
  const uint8_t* settings(uint32_t slot, uint32_t k) const { return block(slot) + 6 + 6 * k; }

  FetchedConfiguration fetched = fetched_with_firmware("1.5.0");
  std::unique_ptr<SetupWorkArea> area = zero_area();
  ImportOutcome outcome;
};

TEST_F(InputImport, RowFillsEntryAndInstanceBlock) {
  ASSERT_EQ(import(HEADER + input_row("2", "7", "Switch", "16", "3", "[1,1,3]")), 1u);
  const uint8_t* e = device(2);
  EXPECT_EQ(le32(area->input_image, 16), 41u);
  EXPECT_EQ(le32(e, 0), 16u | 2u | 1u);
  EXPECT_EQ(e[8], 15);
  EXPECT_EQ(e[10], 3);
  EXPECT_EQ(e[13], 255);
  EXPECT_EQ(text_at(e, 80), "Switch");
  const uint8_t pairs[8] = {1, 20, 1, 21, 3, 22, 0, 0};
  EXPECT_EQ(std::memcmp(e + 16, pairs, sizeof pairs), 0);
  EXPECT_EQ(block(2)[0], 0);
  EXPECT_EQ(block(2)[1], 9);  // first element of the device setting array
  EXPECT_EQ(outcome.fields, 21u);
  EXPECT_EQ(outcome.rows, 2u);
  for (uint32_t slot : {0u, 1u, 3u, 31u}) EXPECT_EQ(le32(device(slot), 0), 0u) << slot;
}

TEST_F(InputImport, SettingsFollowEachInstancesType) {
  // The example of a push button pair and an occupancy sensor, then a light sensor and a type without settings.
  ASSERT_EQ(import(HEADER + input_row("0", "1", "Sensor", "0", "2", "[1,1,3,4,2]")), 1u);
  for (int k = 0; k < 2; ++k) {
    for (int b = 0; b < 6; ++b) EXPECT_EQ(settings(0, k)[b], setting_value(10 + b, k)) << k << "/" << b;
  }
  const uint8_t occupancy[6] = {0, setting_value(16, 2), setting_value(17, 2), setting_value(18, 2), 0, 0};
  EXPECT_EQ(std::memcmp(settings(0, 2), occupancy, 6), 0);
  const uint8_t light[6] = {0, setting_value(19, 3), setting_value(20, 3), 0, 0, 0};
  EXPECT_EQ(std::memcmp(settings(0, 3), light, 6), 0);
  EXPECT_EQ(device(0)[16 + 2 * 4], 2);  // type 2 keeps its type...
  for (int b = 0; b < 6; ++b) EXPECT_EQ(settings(0, 4)[b], 0) << b;  // ...and no settings
  // Settings are written for all 32 instances whatever the count says; the rest of the block stays 0.
  const uint8_t* end = settings(0, 5);
  for (const uint8_t* p = end; p < block(1); ++p) ASSERT_EQ(*p, 0) << p - block(0);
}

TEST_F(InputImport, CountsNamesAndArraysAreBounded) {
  std::string forty = "[";
  for (int i = 0; i < 40; ++i) forty += (i ? ",2" : "2");
  forty += "]";
  ASSERT_EQ(import(HEADER + input_row("31", "63", std::string(20, 'd'), "0", "40", forty) +
                   input_row("30", "0", "n", "0", "300", "[null,5]")),
            2u);
  EXPECT_EQ(device(31)[10], 32);
  EXPECT_EQ(text_at(device(31), 80), std::string(16, 'd'));
  EXPECT_EQ(device(31)[96], 0);
  for (int k = 0; k < 32; ++k) EXPECT_EQ(device(31)[16 + 2 * k], 2) << k;
  EXPECT_EQ(device(31)[8], 127);
  EXPECT_EQ(device(30)[10], 32);  // 300: low byte 44, then at most 32
  EXPECT_EQ(device(30)[16], 5);
  EXPECT_EQ(device(30)[18], 0);
}

TEST_F(InputImport, AddressCellsAndFlags) {
  ASSERT_EQ(import(HEADER + input_row("0", "null", "a", "5", "0", "") + input_row("1", "64", "b", "5", "0", "") +
                   input_row("2", "", "c", "0", "0", "")),
            3u);
  EXPECT_EQ(le32(device(0), 0), 6u);  // bit 0 from the flags column cleared by the null address
  EXPECT_EQ(device(0)[8], 255);
  EXPECT_EQ(le32(device(1), 0), 7u);  // 64 changes neither flag nor address
  EXPECT_EQ(device(1)[8], 0);
  EXPECT_EQ(le32(device(2), 0), 3u);
  EXPECT_EQ(device(2)[8], 1);
}

TEST_F(InputImport, LaterRowReplacesTheFlags) {
  ASSERT_EQ(import(HEADER + input_row("4", "64", "a", "256", "0", "") + input_row("4", "64", "b", "8", "0", "")), 2u);
  EXPECT_EQ(le32(device(4), 0), 10u);
  EXPECT_EQ(text_at(device(4), 80), "b");
}

TEST_F(InputImport, RowsThatDoNotFitAreSkipped) {
  const std::string row = input_row("3", "1", "x", "0", "1", "[1]");
  const std::string nineteen = row.substr(0, row.rfind(',')) + "\n";
  const std::string twentyone = row.substr(0, row.size() - 1) + ",extra\n";
  EXPECT_EQ(import(HEADER + nineteen + twentyone + input_row("32", "1", "x", "0", "1", "[1]") +
                   input_row("-1", "1", "x", "0", "1", "[1]")),
            0u);
  for (uint32_t i = 0; i < sizeof area->input_image; ++i) ASSERT_EQ(area->input_image[i], 0) << i;
}

TEST_F(InputImport, OlderFirmwareStopsTheRunAtTheFirstRow) {
  fetched = fetched_with_firmware("1.3.1");
  const std::string path = write_file(HEADER + input_row("40", "1", "x", "0", "1", "[1]") +
                                      input_row("41", "1", "y", "0", "1", "[1]"));
  const ImportOutcome refused = import_input_csv(&fetched, path.c_str(), area.get());
  EXPECT_EQ(refused.result, ImportResult::VersionRefused);
  // The header and the first row ended; the second row is never looked at.
  EXPECT_EQ(refused.rows, 2u);
  EXPECT_EQ(refused.applied, 0u);

  // Without an accepted row the import itself passes.
  EXPECT_EQ(import(HEADER + "# no rows\n"), 0u);
}

}  // namespace
