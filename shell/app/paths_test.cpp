#include "app/paths.h"

#include <gtest/gtest.h>

TEST(NeighbourPaths, LieBesideTheExecutable) {
  EXPECT_EQ(server_folder("/opt/varnkit"), "/opt/varnkit/http/");
  EXPECT_EQ(server_folder("/opt/varnkit") + kServerName, "/opt/varnkit/http/varnkit-http-server");
  EXPECT_EQ(console_tool_path("/opt/varnkit"), "/opt/varnkit/cli/varnu-cli");
}

TEST(RuntimeFolders, LieUnderKorvaneInTheDataHome) {
  const auto folders = runtime_folders("/home/ann/.local/share");
  ASSERT_TRUE(folders);
  EXPECT_EQ(folders->cache, "/home/ann/.local/share/KORVANE/ccache/");
  EXPECT_EQ(folders->user_data, "/home/ann/.local/share/KORVANE/cuserdata/");
}

TEST(RuntimeFolders, ToleratesTrailingSlashesAndTheRootFolder) {
  EXPECT_EQ(runtime_folders("/data//")->cache, "/data/KORVANE/ccache/");
  EXPECT_EQ(runtime_folders("/")->user_data, "/KORVANE/cuserdata/");
}

TEST(RuntimeFolders, AreAbsentWithoutADataHome) { EXPECT_FALSE(runtime_folders("")); }
