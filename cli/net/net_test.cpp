// The transfers against a gateway-sim process on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "testing/gateway_process.h"
#include "testing/recording_reporter.h"
#include "net/net.h"

using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

namespace {

std::string hex(const uint8_t* bytes, std::size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::vector<uint8_t> pattern(std::size_t count) {
  std::vector<uint8_t> bytes(count);
  uint32_t state = 12345;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

struct Captured {
  Transfer result;
  std::string out, err;
};

// A file holding a reply body for --reply, removed afterwards.
struct ReplyFile {
  std::string path;
  explicit ReplyFile(const std::string& content) {
    char name[] = "/tmp/reply-XXXXXX";
    int fd = mkstemp(name);
    path = name;
    if (fd >= 0) {
      EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
      close(fd);
    }
  }
  ~ReplyFile() { unlink(path.c_str()); }
};

// A loopback port with nobody listening: a stand-in that has been stopped.
std::string closed_address() {
  GatewayProcess gone;
  return gone.address();
}

class Transfers : public testing::Test {
 protected:
  RecordingReporter recorded;
  CurlGateway curl{TransferSettings{false, recorded.reporter(), HttpLimits{}}};

  // Runs `action`, with what it added to the two recorded streams.
  template <class Action>
  Captured capture(Action action) {
    const std::size_t out_start = recorded.out().size(), err_start = recorded.err().size();
    const Transfer result = action();
    return {result, recorded.out().substr(out_start), recorded.err().substr(err_start)};
  }
};

TEST_F(Transfers, FetchDeliversTheBodyWithItsLines) {
  GatewayProcess gateway({"--model", "LUMARO-2"});
  ASSERT_TRUE(gateway.running());
  std::string url = gateway.address() + "/api/v100/status.ssi";
  ReceiveBuffer buffer;
  buffer.data = {1, 2, 3};  // zeroed by the fetch
  auto run = capture([&] { return curl.fetch_to_buffer("status", url.c_str(), &buffer); });
  EXPECT_EQ(run.result, Transfer::Done);
  std::string body(buffer.data.begin(), buffer.data.end());
  EXPECT_THAT(body, StartsWith("{\"model_name\":\"LUMARO-2\""));
  EXPECT_EQ(run.out, "status\tfetching URL '" + url + "'.\nstatus\treceived " + std::to_string(body.size()) +
                         " bytes.\n");
  EXPECT_EQ(run.err, "");  // no meter and no trace for fetches
}

TEST_F(Transfers, FetchHandsErrorPagesOverAsData) {
  GatewayProcess gateway({"--fail", "status=404"});
  std::string url = gateway.address() + "/api/v100/status.ssi";
  ReceiveBuffer buffer;
  auto run = capture([&] { return curl.fetch_to_buffer("status", url.c_str(), &buffer); });
  EXPECT_EQ(run.result, Transfer::Done);
  EXPECT_THAT(std::string(buffer.data.begin(), buffer.data.end()), HasSubstr("404 Not Found"));
}

TEST_F(Transfers, FetchFailuresPrintLibcurlsLine) {
  ReceiveBuffer buffer;
  std::string refused = closed_address() + "/api/v100/status.ssi";
  auto run = capture([&] { return curl.fetch_to_buffer("status", refused.c_str(), &buffer); });
  EXPECT_EQ(run.result, Transfer::Unreachable);
  EXPECT_EQ(run.out, "status\tfetching URL '" + refused + "'.\n");
  EXPECT_EQ(run.err, "curl_easy_perform() failed: Couldn't connect to server\n");

  GatewayProcess cutting({"--body", "status=cut"});
  std::string url = cutting.address() + "/api/v100/status.ssi";
  run = capture([&] { return curl.fetch_to_buffer("status", url.c_str(), &buffer); });
  EXPECT_EQ(run.result, Transfer::Failed);
  EXPECT_THAT(run.err, StartsWith("curl_easy_perform() failed: "));
  EXPECT_THAT(run.out, Not(HasSubstr("received")));

  GatewayProcess hanging_up({"--close", "status"});
  url = hanging_up.address() + "/api/v100/status.ssi";
  run = capture([&] { return curl.fetch_to_buffer("status", url.c_str(), &buffer); });
  EXPECT_EQ(run.result, Transfer::Failed);
  EXPECT_EQ(run.err, "curl_easy_perform() failed: Server returned nothing (no headers, no data)\n");
}

TEST_F(Transfers, AbsentArgumentsFailSilently) {
  ReceiveBuffer buffer;
  uint8_t digest[32] = {};
  uint8_t byte = 7;
  UploadSource empty{&byte, 0};
  UploadSource no_data{nullptr, 10};
  std::vector<Transfer> results;
  auto run = capture([&] {
    results = {curl.fetch_to_buffer(nullptr, "127.0.0.1:1/x", &buffer), curl.fetch_to_buffer("status", nullptr, &buffer),
               curl.fetch_to_buffer("status", "127.0.0.1:1/x", nullptr), curl.tftp_upload(nullptr, &empty),
               curl.tftp_upload("127.0.0.1:1", &empty), curl.tftp_upload("127.0.0.1:1", &no_data),
               curl.tftp_upload("127.0.0.1:1", nullptr), curl.request_restore(nullptr),
               curl.request_firmware_upgrade(nullptr, digest, 1),
               curl.request_firmware_upgrade("127.0.0.1:1", nullptr, 1)};
    return Transfer::Done;
  });
  EXPECT_EQ(results, std::vector<Transfer>(10, Transfer::Failed));
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

TEST_F(Transfers, UploadArrivesWholeAndLeavesTheSourceAlone) {
  GatewayProcess gateway;
  std::vector<uint8_t> image = pattern(16u << 20);
  UploadSource source{image.data(), image.size()};
  auto run = capture([&] { return curl.tftp_upload(gateway.address().c_str(), &source); });
  EXPECT_EQ(run.result, Transfer::Done);
  EXPECT_EQ(run.out, "firmware_push_tftp\tpushing URL 'tftp://" + gateway.address() + "/flashraw.bin'.\n");
  EXPECT_THAT(run.err, HasSubstr("% Total"));  // the progress meter
  EXPECT_EQ(source.data, image.data());
  EXPECT_EQ(source.count, image.size());

  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(image.data(), image.size(), digest);
  std::string logged = gateway.wait_for_log("tftp ");
  EXPECT_THAT(logged, StartsWith("tftp ok 16777216 WRQ flashraw.bin"));
  EXPECT_THAT(logged, HasSubstr("sha256=" + hex(digest, sizeof digest)));
}

TEST_F(Transfers, RefusedUploadFails) {
  GatewayProcess gateway({"--tftp-error", "2"});
  std::vector<uint8_t> image = pattern(5000);
  UploadSource source{image.data(), image.size()};
  auto run = capture([&] { return curl.tftp_upload(gateway.address().c_str(), &source); });
  EXPECT_EQ(run.result, Transfer::Failed);
  EXPECT_THAT(run.err, HasSubstr("curl_easy_perform() failed: TFTP: Access Violation\n"));
}

TEST_F(Transfers, FirmwareUpgradeRequestCarriesDigestAndSize) {
  GatewayProcess gateway({"--reply", "firmware=/dev/null"});
  uint8_t digest[32];
  for (int i = 0; i < 32; ++i) digest[i] = static_cast<uint8_t>(i * 8 + 0x0A);
  auto run = capture([&] {
    Transfer result = curl.request_firmware_upgrade(gateway.address().c_str(), digest, 1234567);
    report(recorded.reporter(), "after\n");
    return result;
  });
  EXPECT_EQ(run.result, Transfer::Done);
  std::string query =
      "/api/v100/status.ssi?action=firmwareupgrade"
      "&hash=0a121a222a323a424a525a626a727a828a929aa2aab2bac2cad2dae2eaf2fa02&size=1234567";
  EXPECT_EQ(run.out, "firmware\tpushing URL '" + gateway.address() + query + "'.\nafter\n");
  EXPECT_EQ(gateway.wait_for_log("http "), "http 200 0 GET " + query);
}

TEST_F(Transfers, FirmwareUpgradeReplyGoesToStandardOutputInOrder) {
  ReplyFile reply("{\"upgrade\":\"started\"}\n");
  GatewayProcess gateway({"--reply", "firmware=" + reply.path});
  uint8_t digest[32] = {};
  auto run = capture([&] {
    Transfer result = curl.request_firmware_upgrade(gateway.address().c_str(), digest, 10);
    report(recorded.reporter(), "after\n");
    return result;
  });
  EXPECT_EQ(run.result, Transfer::Done);
  EXPECT_EQ(run.out, "firmware\tpushing URL '" + gateway.address() + "/api/v100/status.ssi?action=firmwareupgrade&hash=" +
                         std::string(64, '0') + "&size=10'.\n{\"upgrade\":\"started\"}\nafter\n");
  EXPECT_THAT(run.err, HasSubstr("% Total"));
}

TEST_F(Transfers, TriggerRequestsFailOnHttpErrors) {
  GatewayProcess gateway({"--fail", "firmware=500", "--fail", "restore=503"});
  uint8_t digest[32] = {};
  auto run = capture([&] { return curl.request_firmware_upgrade(gateway.address().c_str(), digest, 10); });
  EXPECT_EQ(run.result, Transfer::Failed);
  EXPECT_THAT(run.out, HasSubstr("500 Internal Server Error"));  // the body still shows
  EXPECT_THAT(run.err, testing::EndsWith("request failed: HTTP 500\n"));

  run = capture([&] { return curl.request_restore(gateway.address().c_str()); });
  EXPECT_EQ(run.result, Transfer::Failed);
  EXPECT_EQ(run.out, "backup_put\tpushing URL '" + gateway.address() + "/api/v100/status.ssi?action=restoreconfig'.\n");
  EXPECT_THAT(run.err, testing::EndsWith("request failed: HTTP 503\n"));
}

TEST_F(Transfers, RestoreRequestDiscardsTheReply) {
  ReplyFile reply("{\"restore\":\"started\"}\n");
  GatewayProcess gateway({"--reply", "restore=" + reply.path});
  auto run = capture([&] { return curl.request_restore(gateway.address().c_str()); });
  EXPECT_EQ(run.result, Transfer::Done);
  EXPECT_EQ(run.out, "backup_put\tpushing URL '" + gateway.address() + "/api/v100/status.ssi?action=restoreconfig'.\n");
  EXPECT_THAT(run.err, Not(HasSubstr("started")));
  EXPECT_THAT(run.err, HasSubstr("% Total"));
  EXPECT_EQ(gateway.wait_for_log("http "), "http 200 22 GET /api/v100/status.ssi?action=restoreconfig");
}

TEST_F(Transfers, RestoreRequestToNobodyFails) {
  auto run = capture([&] { return curl.request_restore(closed_address().c_str()); });
  EXPECT_EQ(run.result, Transfer::Unreachable);
  EXPECT_THAT(run.err, HasSubstr("curl_easy_perform() failed: Couldn't connect to server\n"));
}

TEST_F(Transfers, VerboseTurnsTheTraceOn) {
  GatewayProcess gateway;
  std::string url = gateway.address() + "/api/v100/status.ssi";
  ReceiveBuffer buffer;
  CurlGateway loud(TransferSettings{true, recorded.reporter(), HttpLimits{}});
  auto run = capture([&] { return loud.fetch_to_buffer("status", url.c_str(), &buffer); });
  EXPECT_EQ(run.result, Transfer::Done);
  EXPECT_THAT(run.err, HasSubstr("> GET /api/v100/status.ssi HTTP/1.1"));
  EXPECT_THAT(run.err, HasSubstr("< HTTP/1.1 200 OK"));
}

}  // namespace
