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

TEST(Utf8PrefixLength, CutsAtTheLastWholeCharacter) {
  const struct {
    std::string text;
    std::size_t limit, length;
  } rows[] = {
      {"short", 31, 5},
      {std::string(30, 'a') + "é", 31, 30},       // é would end at byte 32
      {std::string(29, 'a') + "é", 31, 31},
      {std::string(13, 'a') + "€x", 15, 13},     // € is three bytes
      {std::string(12, 'a') + "😀", 15, 12},      // four bytes
      {std::string(30, 'a') + "\xc3\xff", 31, 31},  // not UTF-8: cut as bytes
  };
  for (const auto& row : rows) EXPECT_EQ(utf8_prefix_length(row.text, row.limit), row.length) << row.text;
}

}  // namespace
