#include "util/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EscapeBytes, ControlsAndBrokenUtf8NeverReachTheTerminalRaw) {
  const struct {
    std::string bytes, shown;
  } rows[] = {
      {"LUMARO-2", "LUMARO-2"},
      {"\x1b[2J\x01\x7f", "\\x1b[2J\\x01\\x7f"},
      {"a\tb\r\n", "a\\x09b\\x0d\\x0a"},
      {"Küche €", "Küche €"},
      {"\xc2\x9b" "31m", "\\xc2\\x9b31m"},      // CSI as a UTF-8 C1 control
      {"\xc3(\xff\xed\xa0\x80", "\\xc3(\\xff\\xed\\xa0\\x80"},  // stray bytes, a surrogate
      {std::string("a\0b", 3), "a\\x00b"},
  };
  for (const auto& row : rows) EXPECT_EQ(escape_bytes(row.bytes), row.shown) << row.shown;
}

}  // namespace
