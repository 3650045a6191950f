#include "runs/confirmation.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

GatewayStatus gateway(const std::string& model, const std::string& serial, const std::string& firmware) {
  return {{{"model_name", model}, {"serial_number", serial}, {"firmware_version", firmware}}, ""};
}

FirmwareInfo package(const std::string& model, const std::string& version) {
  FirmwareInfo info;
  info.model_name = model;
  info.version_string = version;
  info.version_date = "2026-01-02";
  return info;
}

}  // namespace

TEST(CompareVersions, NumericPartsByValue) {
  struct Case { const char* a; const char* b; int order; };
  for (const Case& c : {Case{"1.6.0", "1.5.0", 1}, Case{"1.10.0", "1.9.0", 1}, Case{"1.5", "1.5.0", 0},
                        Case{"1.5.0", "1.5.0", 0}, Case{"1.5.0-rc", "1.5.0-rd", -1}, Case{"2", "10", -1}})
    EXPECT_EQ(compare_versions(c.a, c.b), c.order) << c.a << " " << c.b;
}

TEST(RestoreConfirmation, WarnsOnAnotherModelOrSerial) {
  const BackupOrigin same{"LUMARO-2", "1.5.0", "S1"};
  std::string text = restore_confirmation("b.zip", same, "gw", gateway("LUMARO-2", "S1", "1.5.0")).text;
  EXPECT_EQ(text, "Restore b.zip onto the gateway at gw?\n\nGateway: LUMARO-2, serial number S1, firmware 1.5.0.\n"
                  "Backup: from LUMARO-2, serial number S1, firmware 1.5.0.\n");
  const Confirmation other =
      restore_confirmation("b.zip", BackupOrigin{"LUMARO-4", "1.5.0", "S9"}, "gw", gateway("LUMARO-2", "S1", "1.5.0"));
  EXPECT_TRUE(other.warned);
  text = other.text;
  EXPECT_NE(text.find("Warning: this backup comes from another model (LUMARO-4)."), std::string::npos);
  EXPECT_NE(text.find("Warning: this backup comes from another gateway (serial number S9)."), std::string::npos);
  // What the gateway does not tell is not warned about.
  text = restore_confirmation("b.zip", same, "gw", GatewayStatus{{{"model_name", "LUMARO-2"}}, ""}).text;
  EXPECT_EQ(text.find("Warning"), std::string::npos);
  EXPECT_NE(text.find("serial number unknown"), std::string::npos);
  const Confirmation unread = restore_confirmation("b.zip", std::nullopt, "gw", GatewayStatus{{}, "No answer"});
  EXPECT_FALSE(unread.refused);
  EXPECT_TRUE(unread.warned);
  // The plan's refusals come first, records too new for the gateway told together.
  const std::string document = R"({"refused":3,"configurations":[{"name":"rlc","outcome":"unchanged"},
    {"name":"dali1","outcome":"refused","reason":"record version 3 cannot go down to version 2 of firmware 1.3.1"},
    {"name":"dali2","outcome":"refused","reason":"record version 3 cannot go down to version 2 of firmware 1.3.1"},
    {"name":"cd1","outcome":"refused","reason":"its record cannot be converted"},
    {"name":"cd2","outcome":"convert","from":1,"to":2}]})";
  const Confirmation planned = restore_confirmation("b.zip", same, "gw", gateway("LUMARO-2", "S1", "1.3.1"),
                                                    read_restore_plan(document));
  EXPECT_TRUE(planned.warned);
  EXPECT_EQ(planned.text.substr(0, planned.text.find("Restore b.zip")),
            "3 configurations of 5 would be refused:\n"
            "- 2 channel records cannot go down to version 2: upgrade the gateway to 1.5.0 first\n"
            "- cd1: its record cannot be converted\n\n");
  EXPECT_NE(planned.text.find("\nPlan: 1 uploaded unchanged, 1 converted, 3 refused."), std::string::npos);
  const Confirmation unplanned = restore_confirmation("b.zip", same, "gw", gateway("LUMARO-2", "S1", "1.5.0"),
                                                      read_restore_plan("varnu-cli\n"));
  EXPECT_TRUE(unplanned.warned);
  EXPECT_NE(unplanned.text.find("what the restore would do is not known"), std::string::npos);
}

TEST(SetupConfirmation, NamesTheChannelTheKindAndTheRows) {
  const std::string path = testing::TempDir() + "setup_confirmation.csv";
  std::ofstream(path) << "#dali-channel-csv-version: 1\n# tag,slot\n1,0,0\n\n1,1,1\r\n";
  const Confirmation asked = setup_confirmation(path, csv_rows(path), {2, "groups"}, "gw", gateway("LUMARO-2", "S1", "1.5.0"));
  EXPECT_FALSE(asked.warned);
  EXPECT_NE(asked.text.find("replaces all group names of channel 2 on the gateway with 2 rows of the file."),
            std::string::npos);
  EXPECT_TRUE(setup_confirmation(path, csv_rows(path + ".missing"), {1, "gear"}, "gw", gateway("LUMARO-2", "S1", "1.5.0")).warned);
}

TEST(UpgradeConfirmation, RefusesAnotherModelAndWarnsOnOlderOrSameVersion) {
  const Confirmation refused = upgrade_confirmation("fw.bin", package("LUMARO-3", "1.6.0"), "gw", gateway("LUMARO-2", "S1", "1.5.0"));
  EXPECT_TRUE(refused.refused);
  EXPECT_EQ(refused.text, "fw.bin is firmware for LUMARO-3, but the gateway at gw is a LUMARO-2. Nothing was sent.");
  struct Case { const char* version; const char* warning; };
  for (const Case& c : {Case{"1.6.0", nullptr}, Case{"1.4.9", "(a downgrade)"}, Case{"1.5.0", "already runs version 1.5.0"}}) {
    const Confirmation asked = upgrade_confirmation("fw.bin", package("LUMARO-2", c.version), "gw", gateway("LUMARO-2", "S1", "1.5.0"));
    EXPECT_FALSE(asked.refused);
    EXPECT_NE(asked.text.find(std::string("Package: LUMARO-2, version ") + c.version + " of 2026-01-02."), std::string::npos);
    EXPECT_NE(asked.text.find("Keep the gateway powered"), std::string::npos);
    EXPECT_EQ(asked.text.find("Warning") != std::string::npos, c.warning != nullptr) << c.version;
    EXPECT_EQ(asked.warned, c.warning != nullptr) << c.version;
    if (c.warning) {
      EXPECT_NE(asked.text.find(c.warning), std::string::npos) << c.version;
    }
  }
}
