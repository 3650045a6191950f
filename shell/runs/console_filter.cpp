#include "runs/console_filter.h"

#include <cstdint>

namespace {

constexpr char kEscape = '\x1b';
// An unfinished sequence longer than this is garbage, not a sequence still arriving.
constexpr std::size_t kMaxSequence = 256;
constexpr std::size_t kIncomplete = std::string::npos;

bool in_range(char c, int low, int high) {
  const auto byte = static_cast<uint8_t>(c);
  return byte >= low && byte <= high;
}

// Index just past the escape sequence that starts at `start`, or kIncomplete.
std::size_t sequence_end(const std::string& input, std::size_t start) {
  std::size_t i = start + 1;
  if (i >= input.size()) return kIncomplete;
  if (input[i] == '[') {  // CSI: parameters, intermediates, one final byte
    for (++i; i < input.size(); ++i) {
      if (in_range(input[i], 0x40, 0x7E)) return i + 1;
      if (!in_range(input[i], 0x20, 0x3F)) return i;  // malformed: drop what came so far
    }
    return kIncomplete;
  }
  if (input[i] == ']') {  // OSC: ends with BEL or ESC '\'
    for (++i; i < input.size(); ++i) {
      if (input[i] == '\a') return i + 1;
      if (input[i] == kEscape) return i + 1 < input.size() ? i + 2 : kIncomplete;
    }
    return kIncomplete;
  }
  while (i < input.size() && in_range(input[i], 0x20, 0x2F)) ++i;  // ESC, intermediates, final
  return i < input.size() ? i + 1 : kIncomplete;
}

// Applies a "select graphic rendition" sequence to the green state.
void apply_sgr(ConsoleFilter& filter, const std::string& parameters) {
  std::vector<int> values{0};
  for (char c : parameters) {
    if (c == ';' || c == ':') {
      values.push_back(0);
    } else if (c >= '0' && c <= '9' && values.back() < 10000) {
      values.back() = values.back() * 10 + (c - '0');
    }
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int value = values[i];
    if (value == 32) {
      filter.green = true;
    } else if (value == 0 || value == 39 || (value >= 30 && value <= 37) || (value >= 90 && value <= 97)) {
      filter.green = false;
    } else if (value == 38 || value == 48) {  // extended colour: its own parameters follow
      if (value == 38) filter.green = false;
      if (i + 1 < values.size()) i += values[i + 1] == 5 ? 2 : values[i + 1] == 2 ? 4 : 1;
    }
  }
}

void apply_sequence(ConsoleFilter& filter, const std::string& sequence) {
  if (sequence.size() >= 3 && sequence[1] == '[' && sequence.back() == 'm')
    apply_sgr(filter, sequence.substr(2, sequence.size() - 3));
}

}  // namespace

std::vector<ConsoleSegment> filter_console_output(ConsoleFilter& filter, std::string_view chunk) {
  std::string input = filter.pending;
  input.append(chunk);
  filter.pending.clear();
  std::vector<ConsoleSegment> segments;
  auto emit = [&](char c) {
    if (segments.empty() || segments.back().green != filter.green) segments.push_back({"", filter.green, false});
    segments.back().text += c;
  };
  std::size_t i = 0;
  while (i < input.size()) {
    const char c = input[i];
    if (c == '\r') {
      if (i + 1 == input.size()) {
        filter.pending.push_back('\r');  // pending was emptied above
        break;
      }
      if (input[i + 1] == '\n') {
        emit('\n');
        i += 2;
      } else {
        segments.push_back({"", filter.green, true});
        ++i;
      }
    } else if (c == kEscape) {
      const std::size_t end = sequence_end(input, i);
      if (end == kIncomplete) {
        if (input.size() - i <= kMaxSequence) filter.pending = input.substr(i);
        break;
      }
      apply_sequence(filter, input.substr(i, end - i));
      i = end;
    } else {
      if (c == '\t' || c == '\n' || !(in_range(c, 0x00, 0x1F) || c == '\x7f')) emit(c);
      ++i;
    }
  }
  return segments;
}
