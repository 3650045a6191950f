#include <gtest/gtest.h>

#include "http_server.h"

using namespace httpserver;

namespace {

std::string many(const char* range, int count) {
  std::string field = "bytes=";
  for (int i = 0; i < count; ++i) field += std::string(i ? "," : "") + range;
  return field;
}

std::string shown(const std::vector<ByteRange>& ranges) {
  std::string text;
  for (const ByteRange& r : ranges) text += std::to_string(r.first) + "-" + std::to_string(r.last) + " ";
  return text;
}

}  // namespace

TEST(HttpByteRanges, MergedWithinTheFileAndLimitedInNumber) {
  struct Case {
    std::string field;
    std::uint64_t size;
    int result;
    std::string ranges;
  };
  const Case cases[] = {
      {"bytes=0-9", 100, ranges_partial, "0-9 "},
      {"Bytes=90-", 100, ranges_partial, "90-99 "},
      {"bytes=-5", 100, ranges_partial, "95-99 "},
      {"bytes=-500", 100, ranges_partial, "0-99 "},
      {"bytes=50-5000", 100, ranges_partial, "50-99 "},
      {"bytes=20-29, 0-9 ,,", 100, ranges_partial, "0-9 20-29 "},
      {"bytes=0-9,5-14,15-19", 100, ranges_partial, "0-19 "},
      {"bytes=100-,0-0", 100, ranges_partial, "0-0 "},
      {many("0-", 8), 100, ranges_partial, "0-99 "},
      {many("0-", 9), 100, ranges_unsatisfiable, ""},
      {many("0-0", 2700), 100, ranges_unsatisfiable, ""},
      {"bytes=100-", 100, ranges_unsatisfiable, ""},
      {"bytes=-0", 100, ranges_unsatisfiable, ""},
      {"bytes=0-", 0, ranges_unsatisfiable, ""},
      {"bytes=9-0", 100, ranges_whole, ""},
      {"bytes=a-b", 100, ranges_whole, ""},
      {"bytes=5", 100, ranges_whole, ""},
      {"bytes=99999999999999999999-", 100, ranges_whole, ""},
      {"bytes=", 100, ranges_whole, ""},
      {"items=0-9", 100, ranges_whole, ""},
  };
  for (const Case& c : cases) {
    std::vector<ByteRange> ranges;
    EXPECT_EQ(parse_ranges(c.field, c.size, ranges), c.result) << c.field.substr(0, 40);
    if (c.result == ranges_partial) {
      EXPECT_EQ(shown(ranges), c.ranges) << c.field.substr(0, 40);
    }
    std::uint64_t total = 0;
    for (const ByteRange& r : ranges) total += r.last - r.first + 1;
    EXPECT_LE(ranges.size(), max_ranges);
    if (c.result == ranges_partial) {
      EXPECT_LE(total, c.size) << c.field.substr(0, 40);
    }
  }
}
