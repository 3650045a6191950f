#include <gtest/gtest.h>

#include "http_server.h"

using namespace httpserver;

namespace {

constexpr long own = 1000;
constexpr long other = 1001;
constexpr long third = 1002;

// `count` connections of `account`, opened after those already in `open`.
void add(std::vector<OpenConnection>& open, long account, std::size_t count, bool answering = false) {
  for (std::size_t i = 0; i < count; ++i) open.push_back({account, answering, open.size() + 1});
}

}  // namespace

TEST(HttpConnectionLimits, AFloodDisplacesOnlyItself) {
  struct Case {
    const char* name;
    std::vector<std::tuple<long, std::size_t, bool>> open;  // account, count, answering
    long newcomer;
    long expected;  // index to close, open.size() to just keep it, or admit_refused
  };
  const std::size_t cap = max_connections_per_other_account;
  const std::size_t all = max_connections;
  const Case cases[] = {
      {"room", {{own, 3, false}, {other, 3, false}}, other, 6},
      {"another account at its limit gives up its oldest waiting one",
       {{own, 2, false}, {other, 1, true}, {other, cap - 1, false}}, other, 3},
      {"another account at its limit, all answering", {{other, cap, true}}, other, admit_refused},
      {"the window is never limited per account", {{own, cap + 10, false}}, own, static_cast<long>(cap + 10)},
      {"full: the biggest holder gives up its oldest waiting one",
       {{own, 5, false}, {other, cap, false}, {third, 4, false}, {own, all - cap - 9, false}}, third, 0},
      {"full: one that is being answered stays",
       {{own, 2, true}, {own, all - 2, false}}, other, 2},
      {"full and everything is being answered", {{own, all, true}}, own, admit_refused},
  };
  for (const Case& c : cases) {
    std::vector<OpenConnection> open;
    for (const auto& [account, count, answering] : c.open) add(open, account, count, answering);
    EXPECT_EQ(admit(open, c.newcomer, own), c.expected) << c.name;
  }
}
