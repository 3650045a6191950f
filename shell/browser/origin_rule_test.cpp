#include "browser/origin_rule.h"

#include <gtest/gtest.h>

TEST(OriginRule, OnlyTheKitServerWhileProvedAndTheLoadErrorPage) {
  struct Case {
    const char* origin;
    bool proved;
    bool allowed;
  };
  const Case cases[] = {
      {"http://127.0.0.1:7681", true, true},      {"http://localhost:7681", true, false},
      {"http://127.0.0.1:7681", false, false},    {"http://localhost:7681", false, false},
      {"varnkit-page://load-error", false, true}, {"varnkit-page://port-taken", true, false},
      {"https://127.0.0.1:7681", true, false},    {"http://127.0.0.1:7682", true, false},
      {"http://127.0.0.1", true, false},          {"http://127.0.0.2:7681", true, false},
      {"http://[::1]:7681", true, false},         {"null", true, false},
      {"", true, false},                          {"file://", true, false},
      {"http://127.0.0.1:7681/", true, false},    {"http://localhost:7681.evil.example", true, false},
  };
  for (const Case& c : cases) EXPECT_EQ(may_use_native(c.origin, c.proved), c.allowed) << c.origin << " " << c.proved;
}

TEST(KitAddress, TurnsLocalhostOnTheKitsPortIntoTheKitsOrigin) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://localhost:7681/help.html?x#y", "http://127.0.0.1:7681/help.html?x#y"},
      {"http://LOCALHOST:7681/", "http://127.0.0.1:7681/"},
      {"http://localhost:7682/", "http://localhost:7682/"},
      {"https://localhost:7681/", "https://localhost:7681/"},
      {"http://[::1]:7681/", "http://[::1]:7681/"},
      {"http://localhost.example:7681/", "http://localhost.example:7681/"},
  };
  for (const auto& [given, expected] : cases) EXPECT_EQ(kit_address(QUrl(given)).toString(), expected) << given;
}

TEST(NavigationRule, SameOriginGoesOtherWebAddressesGoToTheBrowserTheRestIsDropped) {
  struct Case {
    const char* target;
    const char* from;
    bool shells_own;
    Navigation expected;
  };
  const std::string kit = "http://127.0.0.1:7681";
  const Case cases[] = {
      {"http://127.0.0.1:7681/csv-formats.txt", "http://127.0.0.1:7681", false, Navigation::Allow},
      {"http://127.0.0.1:7682/", "http://127.0.0.1:7681", false, Navigation::SystemBrowser},
      {"https://example.com/manual", "http://127.0.0.1:7681", false, Navigation::SystemBrowser},
      {"http://localhost:7681/", "http://127.0.0.1:7681", false, Navigation::SystemBrowser},
      // A new window without an opener of its own origin has nowhere to come from.
      {"http://127.0.0.1:7681/", "", false, Navigation::SystemBrowser},
      {"mailto:someone@example.com", "http://127.0.0.1:7681", false, Navigation::Drop},
      {"ssh://gateway/", "http://127.0.0.1:7681", false, Navigation::Drop},
      {"smb://server/share", "http://127.0.0.1:7681", false, Navigation::Drop},
      {"file:///usr/bin/xterm", "http://127.0.0.1:7681", false, Navigation::Drop},
      {"made-up:thing", "http://127.0.0.1:7681", false, Navigation::Drop},
      {"varnkit-page://port-taken/", "http://127.0.0.1:7681", false, Navigation::Drop},
      {"varnkit-page://load-error/?url=x", "", true, Navigation::Allow},
  };
  for (const Case& c : cases)
    EXPECT_EQ(navigation_rule(QUrl(c.target), c.from, c.shells_own), c.expected) << c.target << " from " << c.from;
}

TEST(LoadsInPage, OnlyTheSchemesTheRuntimeShowsItself) {
  for (const char* url : {"http://127.0.0.1:7681/", "https://example.com/", "data:text/html,x", "about:blank",
                          "blob:http://127.0.0.1:7681/1", "file:///tmp/x.html", "varnkit-page://load-error/"})
    EXPECT_TRUE(loads_in_page(QUrl(url))) << url;
  for (const char* url : {"mailto:someone@example.com", "ssh://gateway/", "smb://server/share", "made-up:thing",
                          "javascript-like:1", "varnkit-native:native_lastRun"})
    EXPECT_FALSE(loads_in_page(QUrl(url))) << url;
}
