#include "http_server.h"

#include <gtest/gtest.h>

using httpserver::host_is_loopback;

TEST(HttpHostCheck, AcceptsLoopbackNamesOnOurPort) {
  for (const char* host : {"127.0.0.1:7681", "localhost:7681", "LocalHost:7681", "[::1]:7681",
                           "[0:0:0:0:0:0:0:1]:7681", "127.1.2.3:7681"}) {
    EXPECT_TRUE(host_is_loopback(host, 7681)) << host;
  }
}

TEST(HttpHostCheck, RefusesForeignNames) {
  // What a page on another site sends after rebinding its name to 127.0.0.1.
  for (const char* host : {"evil.example:7681", "localhost.evil.example:7681", "127.0.0.1.evil.example:7681",
                           "10.0.0.1:7681", "0.0.0.0:7681", "[::]:7681", "[::ffff:10.0.0.1]:7681", "localhost.:7681",
                           "xlocalhost:7681", "2130706433:7681", "127.1:7681", "0x7f.0.0.1:7681", ":7681", ""}) {
    EXPECT_FALSE(host_is_loopback(host, 7681)) << host;
  }
}

TEST(HttpHostCheck, PortMustBeOurs) {
  EXPECT_FALSE(host_is_loopback("127.0.0.1:7682", 7681));
  EXPECT_FALSE(host_is_loopback("127.0.0.1:07681x", 7681));
  EXPECT_FALSE(host_is_loopback("127.0.0.1:", 7681));
  EXPECT_FALSE(host_is_loopback("127.0.0.1:+7681", 7681));
  EXPECT_FALSE(host_is_loopback("127.0.0.1:7681:7681", 7681));
  EXPECT_FALSE(host_is_loopback("[::1]7681", 7681));
  EXPECT_FALSE(host_is_loopback("[::1]:76810", 7681));
  // No port is the scheme's default, 80.
  EXPECT_FALSE(host_is_loopback("localhost", 7681));
  EXPECT_FALSE(host_is_loopback("[::1]", 7681));
  EXPECT_TRUE(host_is_loopback("localhost", 80));
  EXPECT_TRUE(host_is_loopback("[::1]", 80));
}

TEST(HttpHostCheck, RefusesMalformedBrackets) {
  EXPECT_FALSE(host_is_loopback("[::1:7681", 7681));
  EXPECT_FALSE(host_is_loopback("[localhost]:7681", 7681));
  EXPECT_FALSE(host_is_loopback("[127.0.0.1]:7681", 7681));
  EXPECT_FALSE(host_is_loopback(std::string("localhost\0.evil:7681", 20), 7681));
}
