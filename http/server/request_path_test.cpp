#include "http_server.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using httpserver::path_file;
using httpserver::path_malformed;
using httpserver::path_not_found;
using httpserver::resolve_request_path;

namespace {

// A content folder beside a secret file:
//   base/secret.txt
//   base/www/index.html, app.css, sub/index.html, empty/, fifo,
//   link-out -> ../secret.txt, link-in -> app.css, dir-out -> .., dir-in -> sub
class HttpRequestPath : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/http-rules-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base = fs::canonical(pattern);
    root = base / "www";
    fs::create_directories(root / "sub");
    fs::create_directories(root / "empty");
    std::ofstream(base / "secret.txt") << "secret";
    std::ofstream(root / "index.html") << "index";
    std::ofstream(root / "app.css") << "css";
    std::ofstream(root / "sub" / "index.html") << "sub";
    ASSERT_EQ(mkfifo((root / "fifo").c_str(), 0600), 0);
    fs::create_symlink("../secret.txt", root / "link-out");
    fs::create_symlink("app.css", root / "link-in");
    fs::create_directory_symlink("..", root / "dir-out");
    fs::create_directory_symlink("sub", root / "dir-in");
  }
  void TearDown() override { fs::remove_all(base); }

  int resolve(const std::string& path) { return resolve_request_path(root.string(), path, file); }

  fs::path base;
  fs::path root;
  std::string file;
};

}  // namespace

TEST_F(HttpRequestPath, ServesFilesAndDirectoryIndexes) {
  ASSERT_EQ(resolve("/"), path_file);
  EXPECT_EQ(file, (root / "index.html").string());
  ASSERT_EQ(resolve("/app.css"), path_file);
  EXPECT_EQ(file, (root / "app.css").string());
  ASSERT_EQ(resolve("/sub/"), path_file);
  EXPECT_EQ(file, (root / "sub" / "index.html").string());
  ASSERT_EQ(resolve("//sub//index.html"), path_file);
  EXPECT_EQ(file, (root / "sub" / "index.html").string());
}

TEST_F(HttpRequestPath, FollowsSymlinksThatStayInside) {
  ASSERT_EQ(resolve("/link-in"), path_file);
  EXPECT_EQ(file, (root / "app.css").string());
  ASSERT_EQ(resolve("/dir-in/"), path_file);
  EXPECT_EQ(file, (root / "sub" / "index.html").string());
}

TEST_F(HttpRequestPath, NothingOutsideTheRootIsReachable) {
  for (const char* path : {"/link-out", "/dir-out/secret.txt", "/dir-out/"}) {
    file.clear();
    EXPECT_EQ(resolve(path), path_not_found) << path;
    EXPECT_EQ(file, "") << path;
  }
  // What counts is where a file really lies, not the way there.
  ASSERT_EQ(resolve("/dir-out/www/index.html"), path_file);
  EXPECT_EQ(file, (root / "index.html").string());
  // An absolute path in the request stays relative to the root.
  EXPECT_EQ(resolve((base / "secret.txt").string()), path_not_found);
}

TEST_F(HttpRequestPath, SiblingWithCommonPrefixIsOutside) {
  fs::create_directories(base / "www-other");
  std::ofstream(base / "www-other" / "x.html") << "x";
  fs::create_symlink("../www-other/x.html", root / "sibling");
  EXPECT_EQ(resolve("/sibling"), path_not_found);
}

TEST_F(HttpRequestPath, DotSegmentsAndOddBytesAreMalformed) {
  for (const char* path : {"/../secret.txt", "/sub/../../secret.txt", "/./index.html", "/sub/..", "/..", "",
                           "index.html", "http://127.0.0.1/index.html", "/..\\secret.txt", "/sub\\index.html"}) {
    EXPECT_EQ(resolve(path), path_malformed) << path;
  }
  EXPECT_EQ(resolve(std::string("/index.html\0.png", 16)), path_malformed);
}

TEST_F(HttpRequestPath, OnlyRegularFilesAreServed) {
  EXPECT_EQ(resolve("/sub"), path_not_found);    // a directory without '/'
  EXPECT_EQ(resolve("/empty/"), path_not_found); // no index.html, and never a listing
  EXPECT_EQ(resolve("/fifo"), path_not_found);   // opening it would block
  EXPECT_EQ(resolve("/missing.js"), path_not_found);
  EXPECT_EQ(resolve("/app.css/"), path_not_found);
  // Encoded dots arrive decoded once; a second layer stays a literal name.
  EXPECT_EQ(resolve("/%2e%2e/secret.txt"), path_not_found);
}
