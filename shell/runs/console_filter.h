// Turns the console tool's output into text for the shell's console window:
// green where the tool asked for green, every other terminal control sequence removed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct ConsoleSegment {
  std::string text;  // bytes as the tool wrote them (UTF-8), line ends as "\n"
  bool green = false;
  // Return to the start of the current line first; `text` then overwrites it
  // (a lone carriage return: progress meters redraw their line this way).
  bool line_start = false;
};

// State carried from one chunk of output to the next: a sequence may be split between reads.
struct ConsoleFilter {
  std::string pending;  // an unfinished escape sequence or a trailing '\r'
  bool green = false;
};

// Filters the next chunk. "\r\n" becomes "\n", a lone '\r' starts a segment
// that returns to the line's start; SGR sequences
// switch green on (32) and off (0, 39, other foreground colours); all other
// escape sequences and control characters except '\t' and '\n' are dropped.
std::vector<ConsoleSegment> filter_console_output(ConsoleFilter& filter, std::string_view chunk);
