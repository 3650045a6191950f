// setup_channel against the in-memory gateway.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "action/action.h"
#include "testing/fake_gateway.h"
#include "testing/import_support.h"
#include "testing/recording_reporter.h"
#include "testing/tar_support.h"

namespace {

struct Outcome {
  int result;
  std::string output;
  std::vector<std::string> calls;
};

Outcome run_setup(FakeGateway& gateway, const char* ip, const std::vector<int32_t>* channel,
                  const std::vector<std::string>* channels, const std::vector<std::string>* groups,
                  const std::vector<std::string>* inputs) {
  const RecordingReporter recorded;
  const int result = setup_channel(gateway, recorded.reporter(), ip, channel, channels, groups, inputs);
  return {result, recorded.out(), gateway.calls};
}

Outcome run_setup(const char* ip, const std::vector<int32_t>* channel, const std::vector<std::string>* channels,
                  const std::vector<std::string>* groups, const std::vector<std::string>* inputs) {
  FakeGateway gateway;
  return run_setup(gateway, ip, channel, channels, groups, inputs);
}

TEST(SetupChannelArguments, MissingValuesGiveTheMessageAndStatus2) {
  const std::vector<int32_t> one{1};
  const std::vector<std::string> files{"a.csv"};
  const std::vector<std::string> no_files;
  const char* message = "Missing arguments for action setup_channel.";
  const char* ip = "127.0.0.1";
  for (const Outcome& r :
       {run_setup(ip, nullptr, &files, nullptr, nullptr), run_setup(nullptr, &one, &files, nullptr, nullptr),
        run_setup(nullptr, &one, nullptr, &files, nullptr), run_setup(nullptr, &one, nullptr, nullptr, &files),
        run_setup(ip, &one, nullptr, nullptr, nullptr), run_setup(ip, &one, nullptr, nullptr, &no_files)}) {
    EXPECT_EQ(r.output, message);
    EXPECT_EQ(r.result, 2);
    EXPECT_TRUE(r.calls.empty());
  }
}

TEST(SetupChannelArguments, NoChannelBeforeTheEndMarkDoesNothing) {
  const std::vector<std::string> files{"a.csv", "b.csv"};
  const std::vector<int32_t> zero{0, 1};
  const std::vector<int32_t> none;
  const std::vector<std::string> no_files;
  const char* ip = "127.0.0.1";
  for (const Outcome& r : {run_setup(ip, &zero, &files, nullptr, nullptr),
                           run_setup(ip, &none, nullptr, &files, nullptr),
                           run_setup(ip, &zero, nullptr, nullptr, &no_files)}) {
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(r.calls.empty());
  }
}

// An input-device row meeting a firmware without input records of version 3
// ends the whole run: status 1, nothing uploaded, no later channel fetched.
TEST(SetupChannel, OlderFirmwareStopsTheRunBeforeAnyUpload) {
  FakeGateway gateway;
  const std::string status = R"({"model_name":"LUMARO-4","firmware_version":"1.3.1"})";
  gateway.replies["http://127.0.0.1/api/v100/backup.ssi?config=dali1"] =
      build_archive<std::string>({{"status.txt", status}, {"/etc/config/dali/dali1.bin", std::string(16, '\0')}});
  const std::string csv = import_test::write_file(
      "#dali-channel-inputs-csv-version: 1\n3,1,x,0,1,[1],[],[],[],[],[],[],[],[],[],[],[],[],[],[]\n");
  const std::vector<int32_t> channels{1, 2};
  const std::vector<std::string> files{csv, csv};
  const Outcome r = run_setup(gateway, "127.0.0.1", &channels, nullptr, nullptr, &files);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.calls, std::vector<std::string>{"fetch http://127.0.0.1/api/v100/backup.ssi?config=dali1"});
  EXPECT_NE(r.output.find("importcsv_cd\terror version 1.3.1 not supported.\r\n"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("fields"), std::string::npos) << r.output;
}

}  // namespace
