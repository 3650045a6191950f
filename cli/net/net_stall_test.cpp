// A gateway that takes the upload and then goes silent: the low-speed limit
// (under 30 bytes/s for 60 s) must abandon it. Takes about a minute.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/gateway_process.h"
#include "testing/recording_reporter.h"
#include "net/net.h"

TEST(StalledUpload, IsAbandoned) {
  GatewayProcess gateway({"--tftp-stall", "4"});
  ASSERT_TRUE(gateway.running());
  std::vector<uint8_t> image(64u << 10, 0x5A);
  UploadSource source{image.data(), image.size()};
  const RecordingReporter recorded;
  CurlGateway curl(TransferSettings{false, recorded.reporter(), HttpLimits{}});
  // A gateway that stopped answering: the action ends on it.
  EXPECT_EQ(curl.tftp_upload(gateway.address().c_str(), &source), Transfer::Unreachable);
  EXPECT_THAT(recorded.err(), testing::ContainsRegex("TFTP upload to 127.0.0.1 stalled after [0-9]+ bytes: less than "
                                                    "30 bytes/s for 60 s.\n"));
  // Four blocks of the size the upload asks for were taken.
  EXPECT_THAT(gateway.wait_for_log("tftp ", 20000),
              testing::StartsWith("tftp stalled " + std::to_string(4 * TFTP_BLKSIZE_DEFAULT) + " WRQ flashraw.bin"));
}
