#include "site/site_file.h"

#include <gtest/gtest.h>

namespace {

const std::string HEADER = "name,address,model,serial,mac,notes\n";

TEST(SiteFile, EveryBadRowIsNamedWithItsLineAndNothingIsUsable) {
  const struct {
    std::string text, problem;
  } rows[] = {
      {"hall-1,127.0.0.1\n", "site.csv:2: row 'hall-1' has 2 fields"},
      {"hall 1,127.0.0.1,,,,\n", "site.csv:2: row 'hall 1': name 'hall 1' is not usable"},
      {",127.0.0.1,,,,\n", "site.csv:2: row: name '' is not usable"},
      {"hall-1,127.0.0.1/x,,,,\n", "address '127.0.0.1/x' is not a host"},
      {"hall-1,127.0.0.1,LUMARO-5,,,\n", "model 'LUMARO-5' is none of"},
      {"hall-1,127.0.0.1,,,02:00:00:00:01,\n", "MAC '02:00:00:00:01' is not written"},
      {"hall-1,127.0.0.1,,\"LM\x01\",,\n", "serial 'LM\\x01' is not usable"},
      {"hall-1,\"127.0.0.1,,,,\n", "site.csv:2: row with an unbalanced quote"},
      {"a,127.0.0.1,,,,\n# comment\na,127.0.0.2,,,,\n", "site.csv:4: row 'a': the name is already used on line 2"},
  };
  for (const auto& row : rows) {
    SiteFile site;
    const std::vector<std::string> problems = parse_site_text("site.csv", HEADER + row.text, &site);
    ASSERT_EQ(problems.size(), 1u) << row.text;
    EXPECT_NE(problems[0].find(row.problem), std::string::npos) << problems[0];
  }
  SiteFile site;
  EXPECT_EQ(parse_site_text("site.csv", "hall-1,127.0.0.1,,,,\n", &site).at(0),
            "site.csv:1: the first row must be the header 'name,address,model,serial,mac,notes'");
  EXPECT_EQ(parse_site_text("site.csv", "# only a comment\n", &site).at(0),
            "site.csv: no header row 'name,address,model,serial,mac,notes'");
}

TEST(SiteFile, PinsRewriteOnlyTheirRowsKeepingCommentsOrderAndLineEnds) {
  const std::string text =
      "\xEF\xBB\xBF# Building A\r\nname,address,model,serial,mac,notes\r\n"
      "  # ground floor\r\nhall-1, 127.0.0.1:8001 ,,,,\"entrance, left\"\r\n\r\n"
      "hall-2,127.0.0.1:8002,LUMARO-2,LM2-7,02:00:00:00:00:07\r\n";
  SiteFile site;
  ASSERT_TRUE(parse_site_text("site.csv", text, &site).empty());
  ASSERT_EQ(site.gateways.size(), 2u);
  EXPECT_EQ(site.gateways[0].address, "127.0.0.1:8001");
  EXPECT_EQ(site.gateways[0].notes, "entrance, left");
  EXPECT_EQ(site.gateways[1].notes, "");
  site.gateways[0].model = "LUMARO-4";
  site.gateways[0].serial = "LM4 \"A\"";
  site.gateways[0].mac = "02:00:00:00:01:23";
  const std::string written = site_text(site);
  EXPECT_EQ(written,
            "\xEF\xBB\xBF# Building A\r\nname,address,model,serial,mac,notes\r\n"
            "  # ground floor\r\nhall-1,127.0.0.1:8001,LUMARO-4,\"LM4 \"\"A\"\"\",02:00:00:00:01:23,\"entrance, left\"\r\n"
            "\r\nhall-2,127.0.0.1:8002,LUMARO-2,LM2-7,02:00:00:00:00:07\r\n");
  SiteFile again;
  ASSERT_TRUE(parse_site_text("site.csv", written, &again).empty());
  EXPECT_EQ(again.gateways[0].serial, "LM4 \"A\"");

  std::vector<std::string> unknown;
  const auto chosen = select_gateways(site, {"hall-2", "hall-9"}, &unknown);
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0]->name, "hall-2");
  EXPECT_EQ(unknown, std::vector<std::string>{"hall-9"});
}

}  // namespace
