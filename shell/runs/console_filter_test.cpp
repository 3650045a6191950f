#include "runs/console_filter.h"

#include <gtest/gtest.h>

namespace {

// The filtered chunks rendered as text, with green stretches written as [text]
// and a return to the line's start as '^'.
std::string render(std::initializer_list<std::string_view> chunks) {
  ConsoleFilter filter;
  std::string out;
  for (std::string_view chunk : chunks) {
    for (const ConsoleSegment& segment : filter_console_output(filter, chunk))
      out += (segment.line_start ? "^" : "") + (segment.green ? "[" + segment.text + "]" : segment.text);
  }
  return out;
}

}  // namespace

TEST(ConsoleFilter, PassesPlainTextAndUtf8Through) {
  EXPECT_EQ(render({"backup\tstarted\n", "caf\xc3\xa9\n"}), "backup\tstarted\ncaf\xc3\xa9\n");
}

TEST(ConsoleFilter, TurnsLineEndsIntoNewlineAndALoneReturnIntoALineRestart) {
  EXPECT_EQ(render({"a\r\nb\rc\n\r\n\r\n"}), "a\nb^c\n\n\n");
  EXPECT_EQ(render({"a\r", "\nb"}), "a\nb");
  EXPECT_EQ(render({"a\r", "b"}), "a^b");
  // curl's progress meter: one line redrawn, green kept across the restart.
  EXPECT_EQ(render({"\r 10%", "\r 55%\r\x1b[32m100%\x1b[0m\n"}), "^ 10%^ 55%^[100%]\n");
}

TEST(ConsoleFilter, ShowsTheGreenCompletionLinesGreen) {
  EXPECT_EQ(render({"status\tok\n\x1b[32mBackup finished.\x1b[0m\r\nnext"}), "status\tok\n[Backup finished.]\nnext");
  EXPECT_EQ(render({"\x1b[1;32mbold green\x1b[m plain"}), "[bold green] plain");
  EXPECT_EQ(render({"\x1b[32mgreen\x1b[39m default \x1b[32mg\x1b[31mred"}), "[green] default [g]red");
}

TEST(ConsoleFilter, KeepsGreenAcrossChunksAndSequencesSplitBetweenThem) {
  EXPECT_EQ(render({"\x1b[32mone ", "two\x1b", "[0m three"}), "[one ][two] three");
  EXPECT_EQ(render({"a\x1b[3", "2mb"}), "a[b]");
  EXPECT_EQ(render({"a\x1b", "]0;title", "\x07", "b"}), "ab");
}

TEST(ConsoleFilter, DropsOtherSequences) {
  EXPECT_EQ(render({"\x1b[1mbold\x1b[2K\x1b[10;5H\x1b[?25l\x1b(B\x1b" "7text"}), "boldtext");
  EXPECT_EQ(render({"\x1b]2;window title\x1b\\after"}), "after");
  // Extended colours carry their own numbers; 32 among them is not green.
  EXPECT_EQ(render({"\x1b[38;5;32mindexed\x1b[48;2;0;32;0mrgb"}), "indexedrgb");
}

TEST(ConsoleFilter, DropsControlCharacters) {
  EXPECT_EQ(render({std::string("a\x07" "b\x08" "c\x7f" "d\0e", 9)}), "abcde");
}

TEST(ConsoleFilter, DiscardsAnEndlessSequenceAndGoesOn) {
  ConsoleFilter filter;
  filter_console_output(filter, "\x1b[" + std::string(300, '1'));
  EXPECT_TRUE(filter.pending.empty());
  const auto segments = filter_console_output(filter, "visible");
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0].text, "visible");
}

TEST(ConsoleFilter, EndsAMalformedSequenceAtTheFirstByteThatCannotBelongToIt) {
  EXPECT_EQ(render({"\x1b[12\nnext"}), "\nnext");
}
