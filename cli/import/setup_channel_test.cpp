// Argument handling of the action; channels that reach a gateway are
// exercised against the stand-in by the integration tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/import.h"

namespace {

struct Outcome {
  int result;
  std::string output;
};

Outcome run_setup(const char* ip, const std::vector<int32_t>* channel, const std::vector<std::string>* channels,
        const std::vector<std::string>* groups, const std::vector<std::string>* inputs) {
  testing::internal::CaptureStdout();
  const int result = setup_channel(ip, channel, channels, groups, inputs);
  return {result, testing::internal::GetCapturedStdout()};
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
  }
}

}  // namespace
