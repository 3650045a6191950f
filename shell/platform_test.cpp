#include "platform.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

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

std::string read_file(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits for a file that a started process writes when it is done.
bool wait_for_file(const fs::path& path) {
  for (int i = 0; i < 400; ++i) {
    if (fs::exists(path)) return true;
    usleep(10000);
  }
  return false;
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("varnkit-platform-" + std::to_string(getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // A shell script that records what it was started with, then runs `tail`.
  fs::path WriteProbe(const std::string& tail) {
    const fs::path probe = folder_ / "probe";
    std::ofstream(probe) << "#!/bin/sh\n"
                            "fds=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2); echo \"$fds\" > fds.tmp\n"
                            "pwd > cwd.tmp; echo \"$VARNKIT_PROBE\" > env.tmp\n"
                            "cut -d' ' -f6 /proc/$$/stat > sid.tmp; echo $$ > pid.tmp; sync; touch done\n"
                         << tail << "\n";
    fs::permissions(probe, fs::perms::owner_all);
    return probe;
  }

  uint32_t ProbePid() { return static_cast<uint32_t>(std::stoul(read_file(folder_ / "pid.tmp"))); }

  fs::path folder_;
};

}  // namespace

TEST(ExecutablePath, IsThisTestProgram) {
  const std::string path = shell_platform::executable_path();
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(fs::path(path).filename(), "shell_base_test");
}

TEST(ProcessSnapshot, ListsThisProcessUnderItsFileNameInIdOrder) {
  const auto processes = shell_platform::process_snapshot();
  const auto self = std::find_if(processes.begin(), processes.end(),
                                 [](const auto& p) { return p.pid == static_cast<uint32_t>(getpid()); });
  ASSERT_NE(self, processes.end());
  EXPECT_EQ(self->file_name, "shell_base_test");
  EXPECT_TRUE(std::is_sorted(processes.begin(), processes.end(),
                             [](const auto& a, const auto& b) { return a.pid < b.pid; }));
}

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

TEST_F(TempFolder, StartHiddenGivesFolderNullStreamsEnvironmentAndNoTerminal) {
  const fs::path probe = WriteProbe("exit 0");
  ASSERT_TRUE(shell_platform::start_hidden(probe.string(), folder_.string(), {"VARNKIT_PROBE=given"}));
  ASSERT_TRUE(wait_for_file(folder_ / "done"));
  EXPECT_EQ(read_file(folder_ / "cwd.tmp"), folder_.string() + "\n");
  EXPECT_EQ(read_file(folder_ / "env.tmp"), "given\n");
  EXPECT_EQ(read_file(folder_ / "fds.tmp"), "/dev/null\n/dev/null\n/dev/null\n");
  // Leader of a session of its own: no controlling terminal is shared with the shell.
  EXPECT_EQ(read_file(folder_ / "sid.tmp"), read_file(folder_ / "pid.tmp"));
  shell_platform::terminate_process(ProbePid(), 1000);
}

TEST_F(TempFolder, StartHiddenReportsAProgramThatCannotStart) {
  EXPECT_FALSE(shell_platform::start_hidden((folder_ / "missing").string(), folder_.string(), {}));
  const fs::path probe = WriteProbe("exit 0");
  EXPECT_FALSE(shell_platform::start_hidden(probe.string(), (folder_ / "no-such-folder").string(), {}));
}

TEST_F(TempFolder, TerminateEndsAndReapsTheProcess) {
  const fs::path probe = WriteProbe("exec sleep 30");
  ASSERT_TRUE(shell_platform::start_hidden(probe.string(), folder_.string(), {}));
  ASSERT_TRUE(wait_for_file(folder_ / "done"));
  const uint32_t pid = ProbePid();
  EXPECT_TRUE(shell_platform::same_user(pid));
  EXPECT_TRUE(shell_platform::terminate_process(pid, 5000));
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
}

TEST_F(TempFolder, TerminateKillsAProcessThatIgnoresTheRequest) {
  const fs::path probe = WriteProbe("trap '' TERM; while :; do sleep 0.05; done");
  ASSERT_TRUE(shell_platform::start_hidden(probe.string(), folder_.string(), {}));
  ASSERT_TRUE(wait_for_file(folder_ / "done"));
  EXPECT_TRUE(shell_platform::terminate_process(ProbePid(), 200));
}

TEST_F(TempFolder, WritePrivateFileMakesTheFoldersAndLetsOnlyThisUserIn) {
  const fs::path file = folder_ / "a" / "b" / "key";
  ASSERT_TRUE(shell_platform::write_private_file(file.string(), "first"));
  ASSERT_TRUE(shell_platform::write_private_file(file.string(), "second"));
  EXPECT_EQ(read_file(file), "second");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(fs::exists(file.string() + ".new"));
  EXPECT_FALSE(shell_platform::write_private_file((folder_ / "key").string() + "/", "x"));
}

TEST(SameUser, IsFalseForAProcessThatDoesNotExist) {
  EXPECT_FALSE(shell_platform::same_user(0));
  EXPECT_FALSE(shell_platform::terminate_process(0, 10));
}

TEST(WaitForLoopbackPort, SeesAListeningSocketAndGivesUpOnAClosedPort) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const uint16_t port = ntohs(address.sin_port);
  EXPECT_FALSE(shell_platform::wait_for_loopback_port(port, 50));  // bound, not listening
  ASSERT_EQ(listen(listener, 4), 0);
  EXPECT_TRUE(shell_platform::wait_for_loopback_port(port, 1000));
  close(listener);
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
