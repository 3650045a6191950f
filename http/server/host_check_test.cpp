#include "http_server.h"

#include <gtest/gtest.h>

using httpserver::host_is_loopback;

TEST(HttpHostCheck, AcceptsLoopbackNamesOnOurPort) {
  for (const char* host : {"127.0.0.1:8123", "localhost:8123", "LocalHost:8123", "[::1]:8123",
                           "[0:0:0:0:0:0:0:1]:8123", "127.1.2.3:8123"}) {
    EXPECT_TRUE(host_is_loopback(host, 8123)) << host;
  }
}

TEST(HttpHostCheck, RefusesForeignNames) {
  // What a page on another site sends after rebinding its name to 127.0.0.1.
  for (const char* host : {"evil.example:8123", "localhost.evil.example:8123", "127.0.0.1.evil.example:8123",
                           "10.0.0.1:8123", "0.0.0.0:8123", "[::]:8123", "[::ffff:10.0.0.1]:8123", "localhost.:8123",
                           "xlocalhost:8123", "2130706433:8123", "127.1:8123", "0x7f.0.0.1:8123", ":8123", ""}) {
    EXPECT_FALSE(host_is_loopback(host, 8123)) << host;
  }
}

TEST(HttpHostCheck, PortMustBeOurs) {
  EXPECT_FALSE(host_is_loopback("127.0.0.1:7682", 8123));
  EXPECT_FALSE(host_is_loopback("127.0.0.1:08123x", 8123));
  EXPECT_FALSE(host_is_loopback("127.0.0.1:", 8123));
  EXPECT_FALSE(host_is_loopback("127.0.0.1:+8123", 8123));
  EXPECT_FALSE(host_is_loopback("127.0.0.1:8123:8123", 8123));
  EXPECT_FALSE(host_is_loopback("[::1]8123", 8123));
  EXPECT_FALSE(host_is_loopback("[::1]:81230", 8123));
  // No port is the scheme's default, 80.
  EXPECT_FALSE(host_is_loopback("localhost", 8123));
  EXPECT_FALSE(host_is_loopback("[::1]", 8123));
  EXPECT_TRUE(host_is_loopback("localhost", 80));
  EXPECT_TRUE(host_is_loopback("[::1]", 80));
}

TEST(HttpHostCheck, RefusesMalformedBrackets) {
  EXPECT_FALSE(host_is_loopback("[::1:8123", 8123));
  EXPECT_FALSE(host_is_loopback("[localhost]:8123", 8123));
  EXPECT_FALSE(host_is_loopback("[127.0.0.1]:8123", 8123));
  EXPECT_FALSE(host_is_loopback(std::string("localhost\0.evil:8123", 20), 8123));
}
