#include "import/csv_cells.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<int> scenes_of(const char* text) {
  uint8_t scenes[16];
  read_scene_cell(text, scenes);
  return {scenes, scenes + 16};
}

std::vector<int> bytes_of(const char* text) {
  uint8_t bytes[32];
  read_byte_array_cell(text, bytes);
  return {bytes, bytes + 32};
}

TEST(CsvCells, LeadingIntegerReadsLikeAtoiWithoutOverflow) {
  EXPECT_EQ(leading_integer("42"), 42);
  EXPECT_EQ(leading_integer("  -12abc"), -12);
  EXPECT_EQ(leading_integer("+7"), 7);
  EXPECT_EQ(leading_integer("abc"), 0);
  EXPECT_EQ(leading_integer(""), 0);
  EXPECT_EQ(leading_integer("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(leading_integer("-99999999999999999999999"), INT64_MIN);
  EXPECT_EQ(low_byte(256), 0);
  EXPECT_EQ(low_byte(-1), 255);
  EXPECT_EQ(low_byte(300), 44);
}

TEST(CsvCells, WordsCompareInAnyLetterCase) {
  EXPECT_TRUE(equals_ignoring_case("NuLL", "null"));
  EXPECT_TRUE(equals_ignoring_case("FALSE", "false"));
  EXPECT_FALSE(equals_ignoring_case("nul", "null"));
  EXPECT_FALSE(equals_ignoring_case("nulls", "null"));
  EXPECT_FALSE(equals_ignoring_case("", "null"));
}

TEST(CsvCells, AddressCellTakesTheLastValueOfItsJson) {
  EXPECT_EQ(read_address_cell(""), 0);
  EXPECT_EQ(read_address_cell("7"), 7);
  EXPECT_EQ(read_address_cell("7.9"), 7);
  EXPECT_EQ(read_address_cell("\"9 lights\""), 9);
  EXPECT_EQ(read_address_cell("null"), 255);
  EXPECT_EQ(read_address_cell("[5,6]"), 6);
  EXPECT_EQ(read_address_cell("[5,null]"), 255);
  EXPECT_EQ(read_address_cell("abc"), 0);
  EXPECT_EQ(read_address_cell("300"), 44);
  EXPECT_EQ(read_address_cell("-1"), 255);
  EXPECT_EQ(read_address_cell("1e400"), 255);  // saturated, not undefined
}

TEST(CsvCells, GroupMaskSetsBitsFromTheFirstArray) {
  EXPECT_EQ(read_group_mask_cell(""), 0);
  EXPECT_EQ(read_group_mask_cell("5"), 0);
  EXPECT_EQ(read_group_mask_cell("[\"3\",null,true,2.9]"), 0x000C);
  EXPECT_EQ(read_group_mask_cell("[1,2"), 0x0006);  // an error ends the cell, keeping what was read
  EXPECT_EQ(read_group_mask_cell("[1],[2]"), 0x0002);
}

TEST(CsvCells, ScenesFillInOrderWithNullAsNone) {
  EXPECT_EQ(scenes_of(""), std::vector<int>(16, 255));

  std::vector<int> counted(16);
  for (int i = 0; i < 16; ++i) counted[i] = i;
  EXPECT_EQ(scenes_of("[0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17]"), counted);

  std::vector<int> skipped(16, 255);
  skipped[0] = 4;
  skipped[1] = 0;
  EXPECT_EQ(scenes_of("[true,4,false,256]"), skipped);
}

TEST(CsvCells, ByteArraysTakeNumbersAndStringsOnly) {
  EXPECT_EQ(bytes_of(""), std::vector<int>(32, 0));
  std::vector<int> nested(32, 0);
  nested[0] = 1;
  nested[1] = 2;
  EXPECT_EQ(bytes_of("[1,[2],3]"), nested);  // the first closing bracket ends the cell
  std::vector<int> texts(32, 0);
  texts[0] = 12;
  texts[1] = 0;
  texts[2] = 255;
  EXPECT_EQ(bytes_of("[\"12x\",\"x\",-1]"), texts);
}

}  // namespace
