#include "app/platform.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

namespace fs = std::filesystem;

// Sets or removes an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("varnkit-platform-" + std::to_string(getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path folder_;
};

fs::perms mode_of(const fs::path& path) { return fs::symlink_status(path).permissions(); }

}  // namespace

TEST(UserDataHome, PrefersAnAbsoluteXdgDataHome) {
  ScopedEnv xdg("XDG_DATA_HOME", "/srv/data");
  ScopedEnv home("HOME", "/home/ann");
  EXPECT_EQ(shell_platform::user_data_home(), "/srv/data");
}

TEST(UserDataHome, IgnoresARelativeXdgDataHome) {
  ScopedEnv xdg("XDG_DATA_HOME", "relative/data");
  ScopedEnv home("HOME", "/home/ann");
  EXPECT_EQ(shell_platform::user_data_home(), "/home/ann/.local/share");
}

TEST(UserStateHome, PrefersAnAbsoluteXdgStateHomeElseLocalState) {
  ScopedEnv home("HOME", "/home/ann");
  for (const auto& [xdg, expected] : {std::pair{"/srv/state", "/srv/state"}, {"state", "/home/ann/.local/state"}}) {
    ScopedEnv set("XDG_STATE_HOME", xdg);
    EXPECT_EQ(shell_platform::user_state_home(), expected) << xdg;
  }
}

TEST_F(TempFolder, PrivateFoldersAreOnlyThisUsersAndNeverALink) {
  const fs::path parent = folder_ / "state" / "home";
  ASSERT_TRUE(shell_platform::make_private_folder(parent.string(), "varnkit"));
  EXPECT_EQ(mode_of(parent / "varnkit"), fs::perms::owner_all);
  EXPECT_EQ(mode_of(folder_ / "state"), fs::perms::owner_all);
  // An existing folder that others may read is closed; a link or a file in its place is refused.
  fs::permissions(parent / "varnkit", fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  EXPECT_TRUE(shell_platform::make_private_folder(parent.string(), "varnkit"));
  EXPECT_EQ(mode_of(parent / "varnkit"), fs::perms::owner_all);
  fs::create_directory(folder_ / "elsewhere");
  fs::create_directory_symlink(folder_ / "elsewhere", parent / "logs");
  EXPECT_FALSE(shell_platform::make_private_folder(parent.string(), "logs"));
  std::ofstream(parent / "file") << "x";
  EXPECT_FALSE(shell_platform::make_private_folder(parent.string(), "file"));
  EXPECT_FALSE(shell_platform::make_private_folder(parent.string(), "a/b"));
}

TEST_F(TempFolder, PrivateFilesAreNewAndNeverFollowALink) {
  const fs::path file = folder_ / "run.log";
  const int fd = shell_platform::create_private_file(file.string());
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(mode_of(file), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(shell_platform::create_private_file(file.string()), -1);
  fs::create_symlink(folder_ / "target", folder_ / "link.log");
  EXPECT_EQ(shell_platform::create_private_file((folder_ / "link.log").string()), -1);
  EXPECT_FALSE(fs::exists(folder_ / "target"));
}

TEST(TerminationSignalFd, BecomesReadableWhenASignalArrives) {
  const int fd = shell_platform::termination_signal_fd();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(shell_platform::termination_signal_fd(), fd);
  pollfd ready{fd, POLLIN, 0};
  EXPECT_EQ(poll(&ready, 1, 0), 0);
  raise(SIGHUP);
  EXPECT_EQ(poll(&ready, 1, 1000), 1);
}
