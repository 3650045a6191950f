#include "server.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Copies of sleep(1) under names of their own, running until the fixture ends.
class NamedProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("varnkit-find-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    name_ = "varnkit-probe-" + std::to_string(getpid());
  }

  void TearDown() override {
    for (pid_t pid : children_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    fs::remove_all(folder_);
  }

  pid_t Start(const std::string& file_name) {
    const fs::path program = folder_ / file_name;
    if (!fs::exists(program)) fs::copy_file("/bin/sleep", program);
    std::string path = program.string();
    std::string seconds = "30";
    char* argv[] = {path.data(), seconds.data(), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
    children_.push_back(pid);
    // The name is readable once the child has executed the copy.
    for (int i = 0; i < 200 && fs::read_symlink("/proc/" + std::to_string(pid) + "/exe") != program; ++i) usleep(5000);
    return pid;
  }

  fs::path folder_;
  std::string name_;
  std::vector<pid_t> children_;
};

}  // namespace

TEST_F(NamedProcesses, FindsAProcessByItsExecutablesFileName) {
  const pid_t pid = Start(name_);
  EXPECT_EQ(FindProcessIdByName(name_), static_cast<uint32_t>(pid));
  EXPECT_EQ(FindProcessIdByName("/some/other/folder/" + name_), static_cast<uint32_t>(pid));
}

TEST_F(NamedProcesses, ComparesTheWholeNameExactly) {
  Start(name_);
  std::string upper = name_;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  EXPECT_EQ(FindProcessIdByName(upper), 0u);
  EXPECT_EQ(FindProcessIdByName("varnkit-probe-"), 0u);
  EXPECT_EQ(FindProcessIdByName(name_ + "x"), 0u);
  EXPECT_EQ(FindProcessIdByName(""), 0u);
}

TEST_F(NamedProcesses, ReadsTheRealNameNotTheShortCommandName) {
  // The kernel's short command name keeps only 15 characters.
  const std::string long_name = name_ + "-with-a-long-tail";
  const pid_t pid = Start(long_name);
  EXPECT_EQ(FindProcessIdByName(long_name), static_cast<uint32_t>(pid));
  EXPECT_EQ(FindProcessIdByName(long_name.substr(0, 15)), 0u);
}

TEST_F(NamedProcesses, FindsTheLowestIdOfSeveral) {
  const pid_t first = Start(name_);
  const pid_t second = Start(name_);
  EXPECT_EQ(FindProcessIdByName(name_), static_cast<uint32_t>(std::min(first, second)));
}

TEST_F(NamedProcesses, FindsNothingOnceItEnded) {
  const pid_t pid = Start(name_);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  children_.clear();
  EXPECT_EQ(FindProcessIdByName(name_), 0u);
}

TEST(IdentityProof, IsHmacSha256InLowerCaseHex) {
  // RFC 4231, test case 2.
  EXPECT_EQ(identity_proof("Jefe", "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}
