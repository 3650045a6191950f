#include "http_server.h"

#include <gtest/gtest.h>

#include <vector>

using namespace httpserver;

namespace {

int parse(std::vector<const char*> args, ServerOptions& options, std::string& error) {
  args.insert(args.begin(), "varnkit-http-server");
  return parse_server_args(static_cast<int>(args.size()), args.data(), options, error);
}

}  // namespace

TEST(HttpServerArgs, DefaultsServeTheWorkingDirectoryOnTheKitPort) {
  ServerOptions options;
  std::string error;
  ASSERT_EQ(parse({}, options, error), args_run);
  EXPECT_EQ(options.root, ".");
  EXPECT_EQ(options.port, VARNKIT_SERVER_PORT);
}

TEST(HttpServerArgs, ReadsRootAndPortInBothForms) {
  ServerOptions options;
  std::string error;
  ASSERT_EQ(parse({"--root", "/srv/ui", "--port", "0"}, options, error), args_run);
  EXPECT_EQ(options.root, "/srv/ui");
  EXPECT_EQ(options.port, 0);
  ASSERT_EQ(parse({"--port=65535", "--root=web"}, options, error), args_run);
  EXPECT_EQ(options.root, "web");
  EXPECT_EQ(options.port, 65535);
  EXPECT_EQ(options.log_folder, "");
  EXPECT_EQ(options.log_size, default_log_size);
  ASSERT_EQ(parse({"--log-dir", "/tmp/l", "--log-size=4096"}, options, error), args_run);
  EXPECT_EQ(options.log_folder, "/tmp/l");
  EXPECT_EQ(options.log_size, 4096u);
}

TEST(HttpServerArgs, LogFolderDefaultsToTheStateFolder) {
  EXPECT_EQ(default_log_folder("/s", "/home/u"), "/s/varnkit");
  EXPECT_EQ(default_log_folder(nullptr, "/home/u"), "/home/u/.local/state/varnkit");
  EXPECT_EQ(default_log_folder("relative", "/home/u"), "/home/u/.local/state/varnkit");
  EXPECT_EQ(default_log_folder("", ""), "");
}

TEST(HttpServerArgs, RejectsBadValues) {
  for (std::vector<const char*> args : std::vector<std::vector<const char*>>{
           {"--port", "65536"}, {"--port", "-1"}, {"--port", "80x"}, {"--port="}, {"--port", "123456"},
           {"--port"}, {"--root"}, {"--root="}, {"--rooted", "x"}, {"serve"}, {"--verbose"},
           {"--log-dir="}, {"--log-size", "1023"}, {"--log-size", "1073741825"}, {"--log-size", "1k"}}) {
    ServerOptions options;
    std::string error;
    EXPECT_EQ(parse(args, options, error), args_usage) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

TEST(HttpServerArgs, HelpWins) {
  ServerOptions options;
  std::string error;
  EXPECT_EQ(parse({"--port", "1", "--help"}, options, error), args_help);
  EXPECT_EQ(parse({"-h"}, options, error), args_help);
}
