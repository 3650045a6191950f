#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "status/status.h"
#include "testing/fake_gateway.h"

namespace {

struct Read {
  int result;
  StatusReport report;
  std::string err;
};

Read read(const std::string& reply) {
  Read run;
  const StatusOutcome outcome =
      read_status_report(reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), &run.report);
  run.result = outcome.read ? 0 : 1;
  run.err = outcome.reason;
  return run;
}

TEST(StatusReport, ReadsStringMembers) {
  Read run = read(R"({"model_name":"LUMARO-2","firmware_version":"1.3.1"})");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.report.model_name, "LUMARO-2");
  EXPECT_EQ(run.report.firmware_version, "1.3.1");
  EXPECT_FALSE(run.report.serial_number.has_value());
  EXPECT_EQ(run.err, "");

  run = read(R"({"username":"admin","bacnet_ip":"off","dali_channel_4":"x","model_name":"LUMARO-1","unknown":"u"})");
  EXPECT_EQ(run.report.username, "admin");
  EXPECT_EQ(run.report.bacnet_ip, "off");
  EXPECT_EQ(run.report.dali_channel_4, "x");
}

TEST(StatusReport, NeedsModelNameAndSaysWhy) {
  const std::string none = "status\tthe gateway's status reply holds no model_name\n";
  const struct {
    std::string reply, reason;
  } rows[] = {
      {R"({"firmware_version":"1.3.1"})", none},
      {"", "status\tthe gateway's status reply is empty\n"},
      {"{}", none},
      {R"({"Model_Name":"LUMARO-2"})", none},  // names are case-sensitive
      {R"({"model_name\u0000x":"LUMARO-2"})", none},  // compared with their full length
      // Strings outside an object are neither names nor values.
      {R"(["model_name","LUMARO-2"])", none},
      // Reply bytes in the line are escaped, never raw.
      {"\x1b[2J", "status\tthe gateway's status reply could not be read: unexpected byte '\\x1b' in value\n"},
  };
  for (const auto& row : rows) {
    const Read run = read(row.reply);
    EXPECT_EQ(run.result, 1) << row.reply;
    EXPECT_EQ(run.err, row.reason) << row.reply;
  }
}

TEST(StatusReport, NonStringValueShiftsThePairing) {
  Read run = read(R"({"boot_count":7,"model_name":"LUMARO-3","mac":"m"})");
  EXPECT_EQ(run.report.boot_count, "model_name");
  // "LUMARO-3" became a name, "mac" its value (ignored), "m" a pending name.
  EXPECT_FALSE(run.report.model_name.has_value());
  EXPECT_FALSE(run.report.mac.has_value());
  EXPECT_EQ(run.result, 1);
}

TEST(StatusReport, LaterValueWins) {
  Read run = read(R"({"model_name":"LUMARO-1","model_name":"LUMARO-4"})");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.report.model_name, "LUMARO-4");
}

TEST(StatusReport, ObjectBoundariesDropThePendingName) {
  // The nested object's start drops "hostname"; its end drops "serial_number".
  Read run = read(R"({"hostname":{"serial_number":{}},"model_name":"LUMARO-2","mac":"m1"})");
  EXPECT_FALSE(run.report.hostname.has_value());
  EXPECT_FALSE(run.report.serial_number.has_value());
  // After the nested object ended the reader counts as outside any object.
  EXPECT_FALSE(run.report.model_name.has_value());
  EXPECT_EQ(run.result, 1);
}

TEST(StatusReport, MalformedReplyFailsWithOneLine) {
  Read run = read(R"({"model_name":"LUMARO-2",)");
  EXPECT_EQ(run.result, 1);
  EXPECT_THAT(run.err, testing::StartsWith("status\tthe gateway's status reply could not be read"));
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);

  // A model name read before the damage does not make the reply good.
  run = read(R"({"model_name":"LUMARO-2",})");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.report.model_name, "LUMARO-2");
}

TEST(StatusReport, QueryAndReleaseChecksArguments) {
  StatusReport report;
  report.mac = "stale";
  FakeGateway gateway;
  EXPECT_FALSE(query_status(gateway, nullptr, &report).read);
  EXPECT_FALSE(report.mac.has_value());  // emptied before anything else
  EXPECT_FALSE(query_status(gateway, "127.0.0.1:1", nullptr).read);
  EXPECT_TRUE(gateway.calls.empty());
  release_status(nullptr);
  report.model_name = "LUMARO-1";
  report.uptime = "5";
  release_status(&report);
  EXPECT_FALSE(report.model_name.has_value());
  EXPECT_FALSE(report.uptime.has_value());
}

}  // namespace
