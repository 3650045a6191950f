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
  EXPECT_EQ(curl.tftp_upload(gateway.address().c_str(), &source), Transfer::Failed);
  EXPECT_THAT(recorded.err(), testing::HasSubstr("curl_easy_perform() failed: "));
  // Four blocks of the size the upload asks for were taken.
  EXPECT_THAT(gateway.wait_for_log("tftp ", 20000),
              testing::StartsWith("tftp stalled " + std::to_string(4 * TFTP_BLKSIZE_DEFAULT) + " WRQ flashraw.bin"));
}
