// The actions end to end against the in-memory gateway: what they print,
// what they send, and their result, in one process and without a port.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "action/action.h"
#include "testing/fake_gateway.h"
#include "testing/firmware_maker.h"
#include "testing/recording_reporter.h"
#include "testing/tar_support.h"

namespace {

using Calls = std::vector<std::string>;

const std::string STATUS_URL = "127.0.0.1/api/v100/status.ssi";
const std::vector<uint8_t> STATUS_REPLY = [] {
  const std::string text = R"({"model_name":"LUMARO-4","firmware_version":"1.5.0"})";
  return std::vector<uint8_t>(text.begin(), text.end());
}();

std::string temporary_file(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = testing::TempDir() + name;
  std::string error;
  EXPECT_EQ(write_bytes(path.c_str(), bytes, &error), 0) << error;
  return path;
}

struct Case {
  const char* name;
  std::function<void(FakeGateway&)> prepare;
  std::function<int(FakeGateway&, const Reporter&)> run;
  int result;
  Calls calls;
  std::string output_end;  // what standard output ends with
};

TEST(Actions, AgainstTheInMemoryGateway) {
  const std::vector<uint8_t> image = make_firmware_image(ImageDescription{});
  const std::string raw = temporary_file("actions_test.binary", image);
  const std::string size = std::to_string(image.size());
  const std::vector<uint8_t> tar =
      build_archive<std::string>({{"/etc/config/system/systemconfig.bin", std::string(40, 'c')}});
  const std::string single = temporary_file("actions_test.tar", tar);
  const std::string tar_size = std::to_string(tar.size());
  auto with_status = [](FakeGateway& g) { g.replies[STATUS_URL] = STATUS_REPLY; };
  auto nothing = [](FakeGateway&) {};

  const Case cases[] = {
      {"get_status without address", nothing,
       [](FakeGateway& g, const Reporter& r) { return get_status(g, r, nullptr); }, 2, {},
       "Missing arguments for action get_status."},
      {"get_status", with_status, [](FakeGateway& g, const Reporter& r) { return get_status(g, r, "127.0.0.1"); }, 0,
       {"fetch " + STATUS_URL}, "model_name=LUMARO-4\r\n"},
      {"get_status, escaped model",
       [](FakeGateway& g) {
         const std::string reply = R"({"model_name":"L\u001b[2J\u0085"})";
         g.replies[STATUS_URL].assign(reply.begin(), reply.end());
       },
       [](FakeGateway& g, const Reporter& r) { return get_status(g, r, "127.0.0.1"); }, 0, {"fetch " + STATUS_URL},
       "model_name=L\\x1b[2J\\xc2\\x85\r\n"},
      {"get_status as JSON", with_status,
       [](FakeGateway& g, const Reporter& r) { return get_status(g, r, "127.0.0.1", true); }, 0,
       {"fetch " + STATUS_URL}, "{\"model_name\":\"LUMARO-4\",\"firmware_version\":\"1.5.0\"}\n"},
      {"get_status, no reply", nothing,
       [](FakeGateway& g, const Reporter& r) { return get_status(g, r, "127.0.0.1"); }, 1, {"fetch " + STATUS_URL}, ""},
      {"put_backup without address", nothing,
       [](FakeGateway& g, const Reporter& r) { return put_backup(g, r, nullptr, "x.zip"); }, 2, {},
       "Missing arguments for action put_backup."},
      {"put_backup of an unchanged tar", with_status,
       [&](FakeGateway& g, const Reporter& r) { return put_backup(g, r, "127.0.0.1", single.c_str()); }, 0,
       {"fetch " + STATUS_URL, "upload 127.0.0.1 " + tar_size, "restore 127.0.0.1"}, "OK\n"},
      {"put_backup, restore refused", [&](FakeGateway& g) { with_status(g), g.fail_restore = true; },
       [&](FakeGateway& g, const Reporter& r) { return put_backup(g, r, "127.0.0.1", single.c_str()); }, 1,
       {"fetch " + STATUS_URL, "upload 127.0.0.1 " + tar_size, "restore 127.0.0.1"}, "backup file pushed.\n"},
      {"push_firmware without address", nothing,
       [](FakeGateway& g, const Reporter& r) { return push_firmware(g, r, nullptr, "f.bin"); }, 2, {},
       "Missing arguments for action push_firmware."},
      {"push_firmware", nothing,
       [&](FakeGateway& g, const Reporter& r) { return push_firmware(g, r, "127.0.0.1", raw.c_str()); }, 0,
       {"upload 127.0.0.1 " + size, "upgrade 127.0.0.1 " + size},
       "OK\nOK\nKeep the gateway powered: it installs the firmware and restarts.\n"},
      {"push_firmware, upload fails", [](FakeGateway& g) { g.fail_upload = true; },
       [&](FakeGateway& g, const Reporter& r) { return push_firmware(g, r, "127.0.0.1", raw.c_str()); }, 1,
       {"upload 127.0.0.1 " + size}, "== ==\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeGateway gateway;
    c.prepare(gateway);
    const RecordingReporter recorded;
    EXPECT_EQ(c.run(gateway, recorded.reporter()), c.result);
    const std::string output = recorded.out();
    EXPECT_EQ(gateway.calls, c.calls);
    EXPECT_TRUE(output.ends_with(c.output_end)) << output;
  }
  // The unchanged tar goes to the gateway byte for byte.
  FakeGateway gateway;
  gateway.replies[STATUS_URL] = STATUS_REPLY;
  const RecordingReporter recorded;
  put_backup(gateway, recorded.reporter(), "127.0.0.1", single.c_str());
  ASSERT_EQ(gateway.uploads.size(), 1u);
  EXPECT_EQ(gateway.uploads[0], tar);
}

}  // namespace
