#include "site/changes.h"

#include <gtest/gtest.h>

#include "testing/inspect_support.h"

namespace {

using inspect_test::Bytes;

const char* const GEAR = "#dali-channel-csv-version: 1\n0,5,5,Stair wall light,[0],254,null,254,254,7,4,[]\n";

std::vector<FetchedArchive> gateway_with(const std::string& gear_csv, const std::string& firmware) {
  std::vector<FetchedArchive> archives;
  for (const char* name : {"systemconfig", "dali1"}) {
    const ConfigurationEntry& entry = *find_configuration_by_name(name);
    const Bytes file = entry.code == 1 ? inspect_test::channel_record("1.5.0", gear_csv, "") : Bytes(64, 7);
    archives.push_back({name, inspect_test::configuration_tar(entry, file, firmware)});
  }
  return archives;
}

TEST(CompareArchives, OnlyDecodedChangesCountAndAreSaidInWords) {
  const auto before = gateway_with(GEAR, "1.5.0");
  std::string renamed = GEAR;
  renamed.replace(renamed.find("Stair wall light"), 16, "Stair light");

  const GatewayChanges first = compare_archives("hall-2", {}, before);
  EXPECT_EQ(first.changed.size(), 2u);
  EXPECT_EQ(first.lines, std::vector<std::string>{"hall-2: first backup, 2 configurations"});

  // status.txt says another firmware: the same configurations all the same.
  const GatewayChanges same = compare_archives("hall-2", before, gateway_with(GEAR, "1.6.0"));
  EXPECT_TRUE(same.changed.empty());
  EXPECT_TRUE(same.lines.empty());

  const GatewayChanges rename = compare_archives("hall-2", before, gateway_with(renamed, "1.5.0"));
  ASSERT_EQ(rename.changed.size(), 1u);
  EXPECT_EQ(rename.changed[0].name, "dali1");
  EXPECT_EQ(rename.lines,
            std::vector<std::string>{"hall-2: channel 1 gear 5 renamed 'Stair wall light' → 'Stair light'"});
}

TEST(CompareArchives, FieldsOtherThanNamesShowOldAndNewValue) {
  const struct {
    FieldChange change;
    std::string words;
  } rows[] = {
      {{"gear", 3, "fade_rate", "7", "9"}, "channel 2 gear 3 fade_rate 7 → 9"},
      {{"group", 1, "name", "\"A\"", "\"B\""}, "channel 2 group 1 renamed 'A' → 'B'"},
      {{"record", -1, "import_tag", "0", "4"}, "channel 2 import_tag 0 → 4"},
      // A name is the gateway's text: control bytes reach the console and the history escaped.
      {{"gear", 2, "name", "\"a\\u001b]0;x\\u0007\"", "\"b\\u007f\""}, "channel 2 gear 2 renamed 'a\\x1b]0;x\\x07' → 'b\\x7f'"},
  };
  for (const auto& row : rows) EXPECT_EQ(describe_change("dali2", row.change), row.words);
  EXPECT_EQ(describe_change("cd4", {"device", 0, "name", "\"K\"", "null"}), "channel 4 input device 0 renamed 'K' → null");
}

}  // namespace
