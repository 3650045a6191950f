#include "backup/backup.h"
#include "testing/fake_gateway.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "testing/recording_reporter.h"
#include "testing/tar_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Members = std::vector<std::pair<std::string, std::string>>;

const std::string STATUS =
    R"({"model_name":"LUMARO-4","firmware_version":"2.4.1","serial_number":"SN0042","mac":"00:11:22:33:44:55"})";

Bytes build(const Members& members) { return build_archive(members); }

struct Checked {
  ArchiveCheck result;
  std::string output;
  FetchedConfiguration record;
};

Checked check(const Bytes& body) {
  Checked c;
  c.record.buffer.data = body;
  const RecordingReporter recorded;
  c.result = check_configuration_archive(recorded.reporter(), &c.record);
  c.output = recorded.out();
  return c;
}

Checked check(const Members& members) { return check(build(members)); }

const std::string LISTED = "backup\tbackup file contains: \r\n";

std::string values(const char* model, const char* version, const char* serial, const char* mac) {
  return std::string("backup\tmodel name: ") + model + "\r\nbackup\tfirmware version: " + version +
         "\r\nbackup\tserial number: " + serial + "\r\nbackup\tmac: " + mac + "\r\n";
}

TEST(CheckConfigurationArchive, ArchiveAsTheGatewaySendsItPasses) {
  const Checked c = check({{"/etc/config/dali/dali1.bin", std::string(7072, 'd')}, {"status.txt", STATUS}});
  EXPECT_EQ(c.result, ArchiveCheck::Passed);
  EXPECT_EQ(c.output, LISTED + "\t/etc/config/dali/dali1.bin (7072 bytes)\r\n\tstatus.txt (103 bytes)\r\n" +
                          values("LUMARO-4", "2.4.1", "SN0042", "00:11:22:33:44:55"));
  EXPECT_EQ(c.record.model_name, "LUMARO-4");
  EXPECT_EQ(c.record.firmware_version, "2.4.1");
  EXPECT_EQ(c.record.serial_number, "SN0042");
  EXPECT_EQ(c.record.mac, "00:11:22:33:44:55");
  EXPECT_EQ(c.record.buffer.data.size(), 512u + 7168u + 512u + 512u + 1024u);
}

TEST(CheckConfigurationArchive, MemberCountAndStatusPresence) {
  // Only status.txt: its values are read and printed, but one member is not enough.
  Checked c = check({{"status.txt", STATUS}});
  EXPECT_EQ(c.result, ArchiveCheck::TooFewMembers);
  EXPECT_EQ(c.output, LISTED + "\tstatus.txt (103 bytes)\r\n" + values("LUMARO-4", "2.4.1", "SN0042", "00:11:22:33:44:55"));
  c = check({{"a.bin", "1"}});
  EXPECT_EQ(c.result, ArchiveCheck::TooFewMembers);
  EXPECT_EQ(c.output, LISTED + "\ta.bin (1 bytes)\r\nbackup\terror status.txt file not found.\r\n");
  c = check({{"a.bin", "1"}, {"b.bin", "2"}});
  EXPECT_EQ(c.result, ArchiveCheck::NoStatus);
  // Whole names only.
  c = check({{"a.bin", "1"}, {"/status.txt", STATUS}, {"status.txt.old", STATUS}});
  EXPECT_EQ(c.result, ArchiveCheck::NoStatus);
  EXPECT_FALSE(c.record.model_name);
}

TEST(CheckConfigurationArchive, EmptyStatusPassesWithoutValues) {
  const Checked c = check({{"a.bin", "1"}, {"status.txt", ""}});
  EXPECT_EQ(c.result, ArchiveCheck::Passed);
  EXPECT_EQ(c.output, LISTED + "\ta.bin (1 bytes)\r\n\tstatus.txt (0 bytes)\r\nbackup\terror status.txt file size error\r\n");
  EXPECT_FALSE(c.record.model_name);
}

TEST(CheckConfigurationArchive, StatusValuesFollowTheKeyRule) {
  struct Case {
    std::string status;
    const char* expected;
  };
  const Case cases[] = {
      {R"({"model_name":"M","mac":"X"})", "M|(null)|(null)|X"},
      // A non-string value leaves the key pending: the next string is its value.
      {R"({"model_name":5,"firmware_version":"1.0","mac":"X"})", "firmware_version|(null)|(null)|X"},
      // Strings outside any object or after a nested object ended are ignored.
      {R"(["model_name","A"])", "(null)|(null)|(null)|(null)"},
      {R"({"x":{"a":"b"},"model_name":"M","mac":"X"})", "(null)|(null)|(null)|(null)"},
      // Unknown keys and other values are passed over; the last value of a repeated key wins.
      {R"({"hostname":"h","serial_number":"S","uptime":12,"serial_number":"T"})", "(null)|(null)|T|(null)"},
      // Reading stops at a syntax error, keeping what came before.
      {R"({"model_name":"M", oops "mac":"X"})", "M|(null)|(null)|(null)"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.status);
    Checked c = check({{"a.bin", "1"}, {"status.txt", k.status}});
    EXPECT_EQ(c.result, ArchiveCheck::Passed);
    const auto text = [](const std::optional<std::string>& v) { return v ? *v : std::string("(null)"); };
    EXPECT_EQ(text(c.record.model_name) + "|" + text(c.record.firmware_version) + "|" + text(c.record.serial_number) +
                  "|" + text(c.record.mac),
              k.expected);
    EXPECT_NE(c.output.find("backup\tserial number: " + text(c.record.serial_number) + "\r\n"), std::string::npos);
    release_fetched_configuration(&c.record);
    EXPECT_FALSE(c.record.model_name || c.record.firmware_version || c.record.serial_number || c.record.mac);
    EXPECT_FALSE(c.record.buffer.data.empty());
  }
}

TEST(CheckConfigurationArchive, BodiesThatAreNoArchive) {
  Checked c = check(Bytes{});
  EXPECT_EQ(c.result, ArchiveCheck::Empty);
  EXPECT_EQ(c.output, "");
  EXPECT_EQ(check_configuration_archive(Reporter{}, nullptr), ArchiveCheck::Empty);

  std::string page = "<!DOCTYPE html><html><head><title>404 Not Found</title></head></html>";
  page.resize(700, '\n');
  c = check(Bytes(page.begin(), page.end()));
  EXPECT_EQ(c.result, ArchiveCheck::TooFewMembers);
  EXPECT_EQ(c.output, LISTED + "\tfile error -6.\r\nbackup\terror status.txt file not found.\r\n");

  c = check(Bytes(300, 'x'));
  EXPECT_EQ(c.result, ArchiveCheck::TooFewMembers);
  EXPECT_EQ(c.output, LISTED + "\tfile error -3.\r\nbackup\terror status.txt file not found.\r\n");

  c = check(Bytes(1024, 0));
  EXPECT_EQ(c.result, ArchiveCheck::TooFewMembers);
  EXPECT_EQ(c.output, LISTED + "backup\terror status.txt file not found.\r\n");
}

TEST(CheckConfigurationArchive, TruncatedBodies) {
  const std::string config(2000, 'c');
  const Bytes whole = build({{"/etc/config/rlc/rlc.bin", config}, {"status.txt", STATUS}});
  const auto cut = [&](std::size_t length) { return check(Bytes(whole.begin(), whole.begin() + length)); };
  // Inside the configuration's data: one member listed.
  Checked c = cut(512 + 1000);
  EXPECT_EQ(c.result, ArchiveCheck::TooFewMembers);
  EXPECT_NE(c.output.find("\tfile error -3.\r\nbackup\terror status.txt file not found.\r\n"), std::string::npos);
  // Inside status.txt's data: two members listed, status.txt unreadable.
  c = cut(2560 + 512 + 50);
  EXPECT_EQ(c.result, ArchiveCheck::Damaged);
  EXPECT_NE(c.output.find("\tfile error -3.\r\nbackup\terror reading status.txt\r\n"), std::string::npos);
  EXPECT_FALSE(c.record.model_name);
  // Only the end marker is missing: both members are whole.
  c = cut(2560 + 1024);
  EXPECT_EQ(c.result, ArchiveCheck::Passed);
  EXPECT_NE(c.output.find("\tfile error -3.\r\n"), std::string::npos);

  // status.txt first, then a configuration whose data is cut: not complete,
  // even though status.txt reads fine.
  const Bytes reversed = build({{"status.txt", STATUS}, {"/etc/config/rlc/rlc.bin", config}});
  c = check(Bytes(reversed.begin(), reversed.begin() + 1024 + 512 + 1000));
  EXPECT_EQ(c.result, ArchiveCheck::Damaged);
  EXPECT_EQ(c.record.model_name, "LUMARO-4");
}

TEST(CheckConfigurationArchive, DamageBehindTwoMembers) {
  Bytes body = build({{"a.bin", "1"}, {"status.txt", STATUS}, {"c.bin", "3"}});
  body[2048 + 150] ^= 1;  // third header's checksum
  Checked c = check(body);
  EXPECT_EQ(c.result, ArchiveCheck::Passed);  // both members that matter are whole
  EXPECT_NE(c.output.find("\tfile error -6.\r\n"), std::string::npos);
  body = build({{"a.bin", "1"}, {"status.txt", ""}, {"c.bin", "3"}});
  body[1536 + 150] ^= 1;
  c = check(body);
  EXPECT_EQ(c.result, ArchiveCheck::Damaged);
  // A status.txt claiming more bytes than the body holds is not read (nor allocated).
  body = build({{"a.bin", "1"}, {"status.txt", STATUS}});
  std::memcpy(body.data() + 1024 + 124, "37777777777", 12);
  unsigned sum = 0;
  for (int i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : body[1024 + i];
  std::snprintf(reinterpret_cast<char*>(body.data()) + 1024 + 148, 8, "%06o", sum);
  c = check(body);
  EXPECT_EQ(c.result, ArchiveCheck::Damaged);
  EXPECT_NE(
      c.output.find("\tstatus.txt (4294967295 bytes)\r\n\tfile error -3.\r\nbackup\terror reading status.txt\r\n"),
      std::string::npos);
}

TEST(ConfigurationWriter, BuildsAndListsAOneMemberArchive) {
  EXPECT_EQ(init_configuration_writer(nullptr), TarStatus::Failure);
  EXPECT_EQ(finish_configuration_archive(Reporter{}, nullptr), TarStatus::Failure);
  TarArchive tar;
  ASSERT_EQ(init_configuration_writer(&tar), TarStatus::Success);
  const std::string record(7072, 'r');
  ASSERT_EQ(tar_write_file_header(&tar, "/etc/config/dali/dali1.bin", 7072), TarStatus::Success);
  ASSERT_EQ(tar_write_data(&tar, record.data(), 7072), TarStatus::Success);
  const RecordingReporter listing;
  EXPECT_EQ(finish_configuration_archive(listing.reporter(), &tar), TarStatus::Success);
  EXPECT_EQ(listing.out(), LISTED + "\t/etc/config/dali/dali1.bin (7072 bytes)\r\n");
  EXPECT_EQ(tar.position, 8704u);
  EXPECT_EQ(tar.memory.size(), 8704u);

  // Data short of the announced size leaves the archive damaged, and the listing says so.
  TarArchive short_member;
  ASSERT_EQ(init_configuration_writer(&short_member), TarStatus::Success);
  ASSERT_EQ(tar_write_file_header(&short_member, "m", 4000), TarStatus::Success);
  ASSERT_EQ(tar_write_data(&short_member, record.data(), 100), TarStatus::Success);
  const RecordingReporter damaged;
  EXPECT_EQ(finish_configuration_archive(damaged.reporter(), &short_member), TarStatus::ReadFailed);
  EXPECT_EQ(damaged.out(), LISTED + "\tm (4000 bytes)\r\n\tfile error -3.\r\n");
}

TEST(PushConfigurationArchive, AbsentArgumentsFailWithoutATransfer) {
  const uint8_t byte = 0;
  FakeGateway gateway;
  const RecordingReporter recorded;
  const Reporter reporter = recorded.reporter();
  EXPECT_EQ(push_configuration_archive(gateway, reporter, "http://127.0.0.1:9", "127.0.0.1:9", nullptr, 10),
            Transfer::Failed);
  EXPECT_EQ(push_configuration_archive(gateway, reporter, "http://127.0.0.1:9", "127.0.0.1:9", &byte, 0),
            Transfer::Failed);
  EXPECT_EQ(push_configuration_archive(gateway, reporter, nullptr, "127.0.0.1:9", &byte, 1), Transfer::Failed);
  EXPECT_EQ(push_configuration_archive(gateway, reporter, "http://127.0.0.1:9", nullptr, &byte, 1), Transfer::Failed);
  EXPECT_EQ(recorded.out(), "");
  FetchedConfiguration record;
  EXPECT_EQ(fetch_configuration(gateway, Reporter{}, nullptr, "dali1", &record), Transfer::Failed);
  EXPECT_EQ(fetch_configuration(gateway, Reporter{}, "http://127.0.0.1:9", nullptr, &record), Transfer::Failed);
  EXPECT_EQ(fetch_configuration(gateway, Reporter{}, "http://127.0.0.1:9", "dali1", nullptr), Transfer::Failed);
  EXPECT_TRUE(gateway.calls.empty());
}

TEST(ConfigurationTable, RowsAndFetchOrderAgree) {
  std::set<std::string> names;
  for (uint32_t code = 0; code < CONFIGURATION_COUNT; ++code) {
    const ConfigurationEntry& entry = configuration_table[code];
    EXPECT_EQ(entry.code, code);
    const std::string member = entry.member_name;
    ASSERT_GT(member.size(), 4u);
    EXPECT_EQ(member.substr(member.size() - 4), ".tar");
    EXPECT_EQ(std::string(entry.gateway_path).rfind("/etc/config/", 0), 0u);
    names.insert(member.substr(0, member.size() - 4));
    EXPECT_EQ(find_configuration_by_member(entry.member_name), &entry);
    EXPECT_EQ(find_configuration_by_name(member.substr(0, member.size() - 4).c_str()), &entry);
  }
  EXPECT_EQ(configuration_table[CONFIGURATION_COUNT].code, CONFIGURATION_COUNT);
  EXPECT_EQ(configuration_table[CONFIGURATION_COUNT].member_name, nullptr);
  EXPECT_EQ(configuration_table[CONFIGURATION_COUNT].gateway_path, nullptr);
  std::set<std::string> ordered(default_fetch_order, default_fetch_order + CONFIGURATION_COUNT);
  EXPECT_EQ(ordered, names);
  EXPECT_STREQ(default_fetch_order[0], "systemconfig");
  EXPECT_STREQ(default_fetch_order[4], "commanders");
  EXPECT_STREQ(default_fetch_order[5], "dali1");
  EXPECT_STREQ(default_fetch_order[21], "cmdrnamenvp");
  for (const char* miss : {"Dali1.tar", "dali1", "dali1.tar ", "", "dali.tar"})
    EXPECT_EQ(find_configuration_by_member(miss), nullptr) << miss;
  for (const char* miss : {"dali1.tar", "dali", "Dali1", "", "dali11"})
    EXPECT_EQ(find_configuration_by_name(miss), nullptr) << miss;
  EXPECT_EQ(find_configuration_by_member(nullptr), nullptr);
}

}  // namespace
