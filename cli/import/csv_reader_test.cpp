// The reading rules shared by the three imports, seen through the group
// import, whose rows are the simplest (3 fields: unused, group, name).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "import/import.h"
#include "testing/import_support.h"

namespace {

using namespace import_test;

const std::string HEADER = "#dali-channel-groups-csv-version: 1\n";

class CsvReading : public testing::Test {
 protected:
  uint32_t import(const std::string& csv) { return import_path(write_file(csv)); }
  uint32_t import_path(const std::string& path) {
    outcome = import_group_csv(&fetched, path.c_str(), area.get());
    result = outcome.result;
    return outcome.applied;
  }
  // Fields and rows of the file, as the action reports them.
  std::pair<uint32_t, uint32_t> counts() const { return {outcome.fields, outcome.rows}; }
  std::string group_name(uint32_t slot) const { return text_at(area->channel_image, group(V3, slot)); }

  FetchedConfiguration fetched = fetched_with_firmware(V3.firmware);
  std::unique_ptr<SetupWorkArea> area = zero_area();
  ImportOutcome outcome;
  ImportResult result = ImportResult::Read;
};

TEST_F(CsvReading, VersionHeaderDecidesWhetherRowsApply) {
  EXPECT_EQ(import("#dali-channel-groups-csv-version:1\n0,3,no blank\n"), 0u);
  EXPECT_EQ(import("#dali-channel-groups-csv-version: 2\n0,3,version two\n"), 0u);
  EXPECT_EQ(import("0,3,before the header\n" + HEADER), 0u);
  EXPECT_EQ(import("#dali-channel-csv-version: 1\n0,3,header of another format\n"), 0u);
  EXPECT_EQ(group_name(3), "");
  EXPECT_EQ(import(HEADER + "0,1,one\n#dali-channel-groups-csv-version: 2\n0,2,two\n"), 1u);
  EXPECT_EQ(group_name(1), "one");
  EXPECT_EQ(group_name(2), "");
  EXPECT_EQ(import(HEADER + "0,3,Hall\n"), 1u);
  EXPECT_EQ(group_name(3), "Hall");
  EXPECT_EQ(result, ImportResult::Read);
}

TEST_F(CsvReading, CommentFieldsDiscardTheirWholeRow) {
  EXPECT_EQ(import(HEADER + "# unused,group,name\n0,#4,comment in the middle\n0,5,#comment at the end\n0,6,kept\n"),
            1u);
  EXPECT_EQ(group_name(4), "");
  EXPECT_EQ(group_name(5), "");
  EXPECT_EQ(group_name(6), "kept");
  EXPECT_EQ(counts(), std::make_pair(13u, 5u));
}

TEST_F(CsvReading, QuotingAndLineEnds) {
  EXPECT_EQ(import("\xEF\xBB\xBF" + HEADER + "0,1,\"Hall, \"\"east\"\"\nwing\"\r\n0,2,crlf\r\n0,3,no final line end"),
            3u);
  EXPECT_EQ(group_name(1), "Hall, \"east\"\nwing");
  EXPECT_EQ(group_name(2), "crlf");
  EXPECT_EQ(group_name(3), "no final line end");
  EXPECT_EQ(counts(), std::make_pair(10u, 4u));
}

TEST_F(CsvReading, ByteOrderMarkOnlyCountsAtTheStart) {
  EXPECT_EQ(import(HEADER + "\xEF\xBB\xBF" + "0,1,a\n"), 1u);  // part of the first field, read as 0
  EXPECT_EQ(group_name(1), "a");
  EXPECT_EQ(import("\xEF\xBB\xBF"), 0u);
  EXPECT_EQ(counts(), std::make_pair(0u, 0u));
}

TEST_F(CsvReading, SummaryCountsEveryFieldAndRow) {
  EXPECT_EQ(import(""), 0u);
  EXPECT_EQ(counts(), std::make_pair(0u, 0u));
  EXPECT_EQ(import(HEADER + "\n0,1\n0,2,x,y\n\n0,3,ok\n"), 1u);
  EXPECT_EQ(counts(), std::make_pair(10u, 4u));  // empty lines are no rows
}

TEST_F(CsvReading, RowsCrossingChunkBoundaries) {
  std::string csv = HEADER;
  for (int i = 0; i < 200; ++i) csv += "0," + std::to_string(i % 16) + ",name number " + std::to_string(i) + "\n";
  ASSERT_GT(csv.size(), 3 * 1024u);
  EXPECT_EQ(import(csv), 200u);
  EXPECT_EQ(group_name(7), "name number 199");
  EXPECT_EQ(counts(), std::make_pair(601u, 201u));
}

TEST_F(CsvReading, FieldsAreBounded) {
  EXPECT_EQ(import(HEADER + "0,3,\"" + std::string(MAX_CSV_FIELD, 'n') + "\"\n"), 1u);
  EXPECT_EQ(result, ImportResult::Read);
  for (const std::string& field : {"\"" + std::string(MAX_CSV_FIELD + 1, 'n') + "\"", "\"" + std::string(1 << 20, 'n')}) {
    EXPECT_EQ(import(HEADER + "0,1,a\n0,3," + field + "\n0,4,b\n"), 0u);
    EXPECT_EQ(result, ImportResult::FieldTooLong);
    EXPECT_EQ(outcome.rows, 2u);  // the header and row 2 ended: row 3 is named
  }
}

TEST_F(CsvReading, FilesThatCannotBeRead) {
  EXPECT_EQ(import_path(testing::TempDir() + "no such file.csv"), 0u);
  EXPECT_EQ(result, ImportResult::Unreadable);
  EXPECT_EQ(counts(), std::make_pair(0u, 0u));
  EXPECT_EQ(import_path(testing::TempDir()), 0u);  // a folder opens but cannot be read
  EXPECT_EQ(result, ImportResult::Unreadable);
  EXPECT_EQ(counts(), std::make_pair(0u, 0u));
}

TEST_F(CsvReading, MissingArgumentsAndFirmware) {
  const std::string path = write_file(HEADER + "0,3,x\n");
  EXPECT_EQ(import_group_csv(&fetched, nullptr, area.get()).result, ImportResult::Skipped);
  EXPECT_EQ(import_group_csv(&fetched, path.c_str(), nullptr).result, ImportResult::Skipped);
  FetchedConfiguration unknown = fetched_with_firmware(nullptr);
  const ImportOutcome skipped = import_group_csv(&unknown, path.c_str(), area.get());
  EXPECT_EQ(skipped.result, ImportResult::Skipped);
  EXPECT_EQ(skipped.applied, 0u);
  EXPECT_EQ(group_name(3), "");
}

class GroupImport : public testing::TestWithParam<Layout> {
 protected:
  uint32_t import(const std::string& csv) {
    const std::string path = write_file(HEADER + csv);
    return import_group_csv(&fetched, path.c_str(), area.get()).applied;
  }
  const uint8_t* entry(uint32_t slot) const { return area->channel_image + group(GetParam(), slot); }

  FetchedConfiguration fetched = fetched_with_firmware(GetParam().firmware);
  std::unique_ptr<SetupWorkArea> area = zero_area();
};

TEST_P(GroupImport, NamesTheGroupInTheFirmwaresLayout) {
  std::memset(area->channel_image, 0x5A, sizeof area->channel_image);
  ASSERT_EQ(import("0,3,Corridor\n"), 1u);
  EXPECT_EQ(text_at(entry(3), 0), "Corridor");
  for (uint32_t i = 8; i < 33; ++i) EXPECT_EQ(entry(3)[i], 0) << i;
  EXPECT_EQ(entry(3)[36], 255);
  const uint32_t start = group(GetParam(), 3);
  for (uint32_t i = 0; i < sizeof area->channel_image; ++i) {
    const bool written = (i >= start && i < start + 33) || i == start + 36;
    if (!written) {
      ASSERT_EQ(area->channel_image[i], 0x5A) << "byte " << i;
    }
  }
}

TEST_P(GroupImport, SkipsWhatDoesNotFit) {
  EXPECT_EQ(import("0,16,sixteen\n0,-1,minus one\n0,2\n0,2,four,fields\n"), 0u);
  for (uint32_t i = 0; i < sizeof area->channel_image; ++i) ASSERT_EQ(area->channel_image[i], 0) << i;
}

TEST_P(GroupImport, LongNamesAreCutAndTheLastNameWins) {
  ASSERT_EQ(import("0,15," + std::string(40, 'g') + "\n0,0,first\n9,0,second\n"), 3u);
  EXPECT_EQ(text_at(entry(15), 0), std::string(32, 'g'));
  EXPECT_EQ(text_at(entry(0), 0), "second");
}

INSTANTIATE_TEST_SUITE_P(Layouts, GroupImport, testing::Values(V1, V2, V3),
                         layout_name);

// Skipped rows are named by the line they start on, across quoted line
// breaks, CRLF, empty lines and the reader's chunk boundaries.
TEST_F(CsvReading, SkippedRowsAreNamedByTheirLine) {
  const std::string long_comment = "# " + std::string(3000, 'x') + "\n";
  const struct {
    std::string csv;
    std::vector<std::pair<uint32_t, std::string>> skipped;
  } rows[] = {
      {HEADER + "0,1,a\n0,2\n\n0,16,b\n", {{3, "2 fields, 3 expected"}, {5, "group not within 0-15"}}},
      {"\xEF\xBB\xBF" + HEADER + "0,1,\"two\nlines\"\r\n0;2;c\r\n",
       {{4, "1 fields, 3 expected (separated by ';': the file must use commas)"}}},
      {long_comment + HEADER + long_comment + "1,2,3,4\n", {{4, "4 fields, 3 expected"}}},
      {"0,1,a\n" + HEADER,
       {{1, "no version line \"#dali-channel-groups-csv-version: 1\" before it (the file's first line)"}}},
      {"#dali-channel-groups-csv-version: 2\n0,1,a\n", {{2, "the file's version 2 is not read (1 is)"}}},
  };
  for (const auto& row : rows) {
    import(row.csv);
    std::vector<std::pair<uint32_t, std::string>> skipped;
    for (const SkippedRow& s : outcome.skipped) skipped.emplace_back(s.line, s.reason);
    EXPECT_EQ(skipped, row.skipped) << row.csv.substr(0, 80);
  }
}

}  // namespace
