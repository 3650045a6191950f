#include "origin_rule.h"

#include <gtest/gtest.h>

TEST(OriginRule, OnlyTheKitServerOnceVerifiedAndTheLoadErrorPage) {
  struct Case {
    const char* origin;
    bool verified;
    bool allowed;
  };
  const Case cases[] = {
      {"http://127.0.0.1:7681", true, true},   {"http://localhost:7681", true, true},
      {"http://127.0.0.1:7681", false, false}, {"http://localhost:7681", false, false},
      {"varnkit-page://load-error", false, true}, {"varnkit-page://port-taken", true, false},
      {"https://127.0.0.1:7681", true, false}, {"http://127.0.0.1:7682", true, false},
      {"http://127.0.0.1", true, false},       {"http://127.0.0.2:7681", true, false},
      {"http://[::1]:7681", true, false},      {"null", true, false},
      {"", true, false},                       {"file://", true, false},
      {"http://127.0.0.1:7681/", true, false}, {"http://localhost:7681.evil.example", true, false},
  };
  for (const Case& c : cases) EXPECT_EQ(may_use_native(c.origin, c.verified), c.allowed) << c.origin << " " << c.verified;
}
