#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "action/action.h"
#include "action/backup_name.h"
#include "testing/fake_gateway.h"
#include "testing/recording_reporter.h"

namespace {

namespace fs = std::filesystem;

TEST(BackupArchiveName, AddressIsMadeSafeForFileNames) {
  std::tm when{};
  when.tm_year = 125;
  when.tm_mon = 5;
  when.tm_mday = 14;
  when.tm_hour = 11;
  when.tm_min = 3;
  when.tm_sec = 25;
  EXPECT_EQ(backup_archive_name("192.168.1.10", when), "backup_192.168.1.10_LUMARO_20250614_110325.zip");
  EXPECT_EQ(backup_archive_name("fe80::1", when), "backup_fe80__1_LUMARO_20250614_110325.zip");
  EXPECT_EQ(backup_archive_name("<>:\"/\\|?*x", when), "backup__________x_LUMARO_20250614_110325.zip");
  // The fallback when the local time is unknown.
  EXPECT_EQ(backup_archive_name("h", std::tm{}), "backup_h_LUMARO_19000100_000000.zip");
}

// Each of these is refused before anything is fetched.
class GetBackupRefuses : public ::testing::Test {
 protected:
  FakeGateway gateway;
  // One folder per test: CTest runs the tests of this fixture at the same time.
  fs::path dir = fs::path(VARNU_BUILD_DIR) / "get_backup_test" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  void expect_refused(int status, const char* folder, const char* type, const std::vector<std::string>* names,
                      const std::string& message) {
    const RecordingReporter recorded;
    EXPECT_EQ(get_backup(gateway, recorded.reporter(), "127.0.0.1:9", folder, type, names), status);
    EXPECT_EQ(recorded.out(), "");
    EXPECT_TRUE(gateway.calls.empty());
    EXPECT_NE(recorded.err().find(message), std::string::npos) << message;
    EXPECT_TRUE(fs::is_empty(dir));
  }
};

TEST_F(GetBackupRefuses, WrongValuesAreUsageErrors) {
  const RecordingReporter recorded;
  EXPECT_EQ(get_backup(gateway, recorded.reporter(), nullptr, dir.c_str(), "zip", nullptr), 2);
  EXPECT_EQ(recorded.out(), "Missing arguments for action get_backup.");
  expect_refused(2, dir.c_str(), "tar", nullptr, "accepted values: \"zip\", \"directory\"");
  expect_refused(2, dir.c_str(), "", nullptr, "unknown output type ''");
  for (const char* name : {"../dali1", "sub/dali1", "sub\\dali1", "..", ""}) {
    const std::vector<std::string> names = {"dali1", name};
    expect_refused(2, dir.c_str(), "directory", &names, "would write outside the output folder");
  }
  expect_refused(2, nullptr, "zip", nullptr, "no output folder given");
}

TEST_F(GetBackupRefuses, OutputFolderThatCannotTakeTheBackup) {
  const std::string missing = (dir / "missing").string();
  expect_refused(1, missing.c_str(), "zip", nullptr, "does not exist or is not writable");
  expect_refused(1, missing.c_str(), nullptr, nullptr, "does not exist or is not writable");
  // Its permission bits say writable; only creating a file tells.
  expect_refused(1, "/proc", "directory", nullptr, "does not exist or is not writable");
  const fs::path file = dir / "file";
  std::ofstream(file) << "x";
  const RecordingReporter recorded;
  EXPECT_EQ(get_backup(gateway, recorded.reporter(), "127.0.0.1:9", file.c_str(), "directory", nullptr), 1);
  EXPECT_EQ(recorded.out(), "");
  EXPECT_NE(recorded.err().find("is not writable"), std::string::npos);
}

}  // namespace
