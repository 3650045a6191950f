#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "import/import.h"
#include "testing/import_support.h"

namespace {

using namespace import_test;

const std::string HEADER = "#dali-channel-csv-version: 1\n";
// tag, slot, address, name, groups, level 1..4, fade rate, fade time, scenes
const std::string ROW = "77,5,7,Hall light,\"[0,15]\",200,null,3,4,5,6,\"[1,null,3]\"\n";

class ChannelImport : public testing::TestWithParam<Layout> {
 protected:
  // Imports `csv` into the image; returns the rows applied.
  uint32_t import(const std::string& csv) {
    const std::string path = write_file(csv);
    outcome = import_channel_csv(&fetched, path.c_str(), area.get());
    result = outcome.result;
    return outcome.applied;
  }
  const uint8_t* entry(uint32_t slot) const { return area->channel_image + gear(GetParam(), slot); }
  uint32_t flags(uint32_t slot) const { return le32(entry(slot), 0); }

  FetchedConfiguration fetched = fetched_with_firmware(GetParam().firmware);
  std::unique_ptr<SetupWorkArea> area = zero_area();
  ImportOutcome outcome;
  ImportResult result = ImportResult::Read;
};

TEST_P(ChannelImport, RowFillsTheGearEntryOfItsSlot) {
  ASSERT_EQ(import(HEADER + ROW), 1u);
  EXPECT_EQ(result, ImportResult::Read);
  const uint8_t* e = entry(5);
  EXPECT_EQ(flags(5), 0x3u);  // addressed, imported
  EXPECT_EQ(e[11], 15);       // 2 * 7 + 1
  EXPECT_EQ(e[36], 255);
  EXPECT_EQ(text_at(e, GetParam().name), "Hall light");
  EXPECT_EQ(le16(e, 18), 0x8001);
  EXPECT_EQ(e[5], 200);
  EXPECT_EQ(e[6], 255);
  EXPECT_EQ(e[7], 3);
  EXPECT_EQ(e[8], 4);
  EXPECT_EQ(e[9], 5);
  EXPECT_EQ(e[10], 6);
  const uint8_t scenes[16] = {1, 255, 3, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
  EXPECT_EQ(std::memcmp(e + 20, scenes, 16), 0);
  EXPECT_EQ(flags(4), 0u);
  EXPECT_EQ(flags(6), 0u);
  EXPECT_EQ(outcome.fields, 13u);
  EXPECT_EQ(outcome.rows, 2u);
}

TEST_P(ChannelImport, OnlyTheImportedFieldsChange) {
  std::memset(area->channel_image, 0xA5, sizeof area->channel_image);
  ASSERT_EQ(import(HEADER + ROW), 1u);
  const uint32_t base = gear(GetParam(), 5);
  std::set<uint32_t> written;
  for (uint32_t o : {0u, 1u, 2u, 3u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 18u, 19u, 36u}) written.insert(base + o);
  for (uint32_t o = 20; o < 36; ++o) written.insert(base + o);
  for (uint32_t o = 0; o < 33; ++o) written.insert(base + GetParam().name + o);
  if (GetParam().version == 3) {
    for (uint32_t o = 16; o < 20; ++o) written.insert(o);
    written.insert(base + 43);
    written.insert(base + 44);
  }
  for (uint32_t i = 0; i < sizeof area->channel_image; ++i) {
    if (!written.count(i)) {
      ASSERT_EQ(area->channel_image[i], 0xA5) << "byte " << i;
    }
  }
  EXPECT_EQ(flags(5), 0xA5A5A5A7u);  // earlier bits are kept
}

TEST_P(ChannelImport, ImportTagAndDeviceTypeOnlyInVersion3) {
  std::memset(area->channel_image + 16, 0x11, 4);
  std::memset(area->channel_image + gear(GetParam(), 5) + 43, 0x22, 2);
  ASSERT_EQ(import(HEADER + ROW), 1u);
  if (GetParam().version == 3) {
    EXPECT_EQ(le32(area->channel_image, 16), 77u);
    EXPECT_EQ(entry(5)[43], 0);
    EXPECT_EQ(entry(5)[44], 0);
  } else {
    EXPECT_EQ(le32(area->channel_image, 16), 0x11111111u);
    EXPECT_EQ(entry(5)[43], 0x22);
  }
}

TEST_P(ChannelImport, AddressCells) {
  // Slot 1: empty address is address 0; slot 2: 63; slot 3: 64 changes nothing; slot 4: null.
  uint8_t* record = area->channel_image;
  for (uint32_t slot = 3; slot <= 4; ++slot) {
    record[gear(GetParam(), slot)] = 0x01;  // already addressed
    record[gear(GetParam(), slot) + 11] = 9;
  }
  if (GetParam().extra_table) std::memset(record + GetParam().extra_table + 12 * 4, 0x33, 12);
  ASSERT_EQ(import(HEADER + "1,1,,a,,0,0,0,0,1,0,\n1,2,63,b,,0,0,0,0,1,0,\n1,3,64,c,,0,0,0,0,1,0,\n"
                                "1,4,null,d,,0,0,0,0,1,0,\n"),
            4u);
  EXPECT_EQ(entry(1)[11], 1);
  EXPECT_EQ(flags(1), 0x3u);
  EXPECT_EQ(entry(2)[11], 127);
  EXPECT_EQ(entry(3)[11], 9);
  EXPECT_EQ(flags(3), 0x3u);
  switch (GetParam().version) {
    case 3:
      EXPECT_EQ(flags(4), 0x2u);
      EXPECT_EQ(entry(4)[11], 255);
      break;
    case 2:
      EXPECT_EQ(flags(4), 0x2u);
      EXPECT_EQ(entry(4)[11], 0);
      break;
    default:  // the null address clears the slot's extra block and nothing else
      EXPECT_EQ(flags(4), 0x3u);
      EXPECT_EQ(entry(4)[11], 9);
      for (int i = 0; i < 12; ++i) EXPECT_EQ(record[GetParam().extra_table + 12 * 4 + i], 0) << i;
      EXPECT_EQ(record[GetParam().extra_table + 12 * 5], 0);
      break;
  }
}

TEST_P(ChannelImport, FadeValuesAreClamped) {
  ASSERT_EQ(import(HEADER + "1,0,0,a,,0,0,0,0,0,16,\n1,1,0,b,,0,0,0,0,20,15,\n1,2,0,c,,0,0,0,0,256,300,\n"), 3u);
  EXPECT_EQ(entry(0)[9], 1);
  EXPECT_EQ(entry(0)[10], 15);
  EXPECT_EQ(entry(1)[9], 15);
  EXPECT_EQ(entry(1)[10], 15);
  EXPECT_EQ(entry(2)[9], 1);   // 256: low byte 0, raised to 1
  EXPECT_EQ(entry(2)[10], 15); // 300: low byte 44
}

TEST_P(ChannelImport, LevelWordsAndMasks) {
  ASSERT_EQ(import(HEADER + "1,0,0,a,[16],FALSE,NULL,0,0,1,0,7\n1,1,0,b,[33],Null,300,0,0,1,0,\n"), 2u);
  EXPECT_EQ(entry(0)[5], 100);
  EXPECT_EQ(flags(0), 0x9u);  // addressed, imported with level 1 "false"
  EXPECT_EQ(entry(0)[6], 255);
  EXPECT_EQ(le16(entry(0), 18), 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(entry(0)[20 + i], 255) << "bare number leaves every scene out";
  EXPECT_EQ(entry(1)[5], 255);
  EXPECT_EQ(entry(1)[6], 44);
  EXPECT_EQ(le16(entry(1), 18), 0x0002);
}

TEST_P(ChannelImport, NamesAreCutTo32Characters) {
  ASSERT_EQ(import(HEADER + "1,63,0," + std::string(40, 'x') + ",,0,0,0,0,1,0,\n"), 1u);
  EXPECT_EQ(text_at(entry(63), GetParam().name), std::string(32, 'x'));
  // Never half a UTF-8 character; bytes that are not UTF-8 are cut as bytes.
  ASSERT_EQ(import(HEADER + "1,62,0," + std::string(31, 'x') + "é,,0,0,0,0,1,0,\n" + "1,61,0," +
                   std::string(31, 'x') + "\xe9z,,0,0,0,0,1,0,\n"),
            2u);
  EXPECT_EQ(text_at(entry(62), GetParam().name), std::string(31, 'x'));
  EXPECT_EQ(text_at(entry(61), GetParam().name), std::string(31, 'x') + "\xe9");
}

TEST_P(ChannelImport, RowsThatDoNotFitAreSkipped) {
  const uint32_t applied = import(HEADER + "1,1,0,eleven,,0,0,0,0,1,0\n"
                                           "1,2,0,thirteen,,0,0,0,0,1,0,,extra\n"
                                           "1,64,0,slot 64,,0,0,0,0,1,0,\n"
                                           "1,-1,0,slot -1,,0,0,0,0,1,0,\n"
                                           "1,4294967299,0,wide,,0,0,0,0,1,0,\n");
  EXPECT_EQ(applied, 0u);
  EXPECT_EQ(result, ImportResult::Read);
  for (uint32_t i = 0; i < sizeof area->channel_image; ++i) ASSERT_EQ(area->channel_image[i], 0) << i;
}

TEST_P(ChannelImport, LaterRowsOverwriteEarlierOnes) {
  ASSERT_EQ(import(HEADER + "5,9,3,first,,0,0,0,0,1,0,\n6,9,4,second,,0,0,0,0,1,0,\n"), 2u);
  EXPECT_EQ(text_at(entry(9), GetParam().name), "second");
  EXPECT_EQ(entry(9)[11], 9);
  if (GetParam().version == 3) {
    EXPECT_EQ(le32(area->channel_image, 16), 6u);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ChannelImport, testing::Values(V1, V2, V3),
                         layout_name);

TEST(ChannelImportVersions, FirmwareBelowFirstTablesRowUsesLayout1) {
  FetchedConfiguration fetched = fetched_with_firmware("0.9");
  auto area = zero_area();
  const std::string path = write_file(HEADER + ROW);
  const uint32_t applied = import_channel_csv(&fetched, path.c_str(), area.get()).applied;
  ASSERT_EQ(applied, 1u);
  EXPECT_EQ(text_at(area->channel_image, gear(V1, 5) + V1.name), "Hall light");
}

}  // namespace
