#include "main/argparse.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace argparse {
namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void complain(const Parser& p, const char* format, ...) {
  if (!p.diagnostics.err) return;
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  std::string message(static_cast<std::size_t>(std::max(0, std::vsnprintf(nullptr, 0, format, measure))), '\0');
  va_end(measure);
  std::vsnprintf(message.data(), message.size() + 1, format, args);
  va_end(args);
  report_error(p.diagnostics, "%s: %s\n", p.program, message.c_str());
}

bool is_option_word(const char* word) { return word[0] == '-' && word[1] != '\0'; }

// Moves the skipped non-options [nonopt_start, nonopt_end) behind the option
// words that followed them, up to optind; both blocks keep their order.
void move_nonoptions_back(Parser& p) {
  std::rotate(p.argv + p.nonopt_start, p.argv + p.nonopt_end, p.argv + p.optind);
}

// End of the options: leaves optind on the first non-option.
int finish(Parser& p) {
  p.place = "";
  if (p.nonopt_end != -1) {
    move_nonoptions_back(p);
    p.optind -= p.nonopt_end - p.nonopt_start;
  } else if (p.nonopt_start != -1) {
    p.optind = p.nonopt_start;
  }
  p.nonopt_start = p.nonopt_end = -1;
  return kEnd;
}

int long_option(Parser& p, const char* text) {
  ++p.optind;
  const char* equals = std::strchr(text, '=');
  const std::size_t length = equals ? static_cast<std::size_t>(equals - text) : std::strlen(text);
  const int shown = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
  p.optopt = 0;

  int match = -1;
  bool ambiguous = false;
  for (std::size_t i = 0; length > 0 && i < p.long_count; ++i) {
    const LongOption& option = p.longs[i];
    if (std::strncmp(text, option.name, length) != 0) continue;
    if (std::strlen(option.name) == length) {  // the exact name wins over any prefix match
      match = static_cast<int>(i);
      ambiguous = false;
      break;
    }
    if (match == -1) {
      match = static_cast<int>(i);
    } else if (option.argument != p.longs[match].argument || option.id != p.longs[match].id) {
      ambiguous = true;
    }
  }
  if (ambiguous) {
    complain(p, "ambiguous option -- %.*s", shown, text);
    return kError;
  }
  if (match == -1) {
    complain(p, "unknown option -- %s", text);
    return kError;
  }
  const LongOption& option = p.longs[match];
  if (option.argument == Argument::None && equals) {
    complain(p, "option doesn't take an argument -- %.*s", shown, text);
    return kError;
  }
  if (option.argument == Argument::Required) {
    if (equals) {
      p.optarg = equals + 1;
    } else if (p.optind < p.argc) {
      p.optarg = p.argv[p.optind++];
    } else {
      complain(p, "option requires an argument -- %s", text);
      return kError;
    }
  }
  p.long_index = match;
  return option.id;
}

int short_option(Parser& p) {
  const char letter = *p.place++;
  const char* entry = (letter == ':' || letter == '-') ? nullptr : std::strchr(p.shorts, letter);
  const bool word_done = *p.place == '\0';
  if (!entry) {
    if (word_done) ++p.optind;
    complain(p, "unknown option -- %c", letter);
    p.optopt = letter;
    return kError;
  }
  if (entry[1] != ':') {
    if (word_done) ++p.optind;
    return letter;
  }
  if (!word_done) {  // value attached: -c2
    p.optarg = p.place;
  } else if (++p.optind < p.argc) {  // value in the next word: -c 2
    p.optarg = p.argv[p.optind];
  } else {
    p.place = "";
    complain(p, "option requires an argument -- %c", letter);
    p.optopt = letter;
    return kError;
  }
  p.place = "";
  ++p.optind;
  return letter;
}

}  // namespace

Parser make_parser(int argc, char** argv, const char* shorts, const LongOption* longs, std::size_t long_count,
                   const char* program, const Reporter& diagnostics) {
  Parser p;
  p.argc = argc;
  p.argv = argv;
  p.shorts = shorts;
  p.longs = longs;
  p.long_count = long_count;
  p.program = program;
  p.diagnostics = diagnostics;
  return p;
}

int next_option(Parser& p) {
  p.optarg = nullptr;
  p.long_index = -1;
  if (!p.started) {
    p.started = true;
    p.permute = std::getenv("POSIXLY_CORRECT") == nullptr;
  }
  if (*p.place == '\0') {
    for (;;) {  // find the next option word, skipping non-options when permuting
      if (p.optind >= p.argc) return finish(p);
      if (is_option_word(p.argv[p.optind])) break;
      if (!p.permute) return kEnd;
      if (p.nonopt_start == -1) {
        p.nonopt_start = p.optind;
      } else if (p.nonopt_end != -1) {
        move_nonoptions_back(p);
        p.nonopt_start = p.optind - (p.nonopt_end - p.nonopt_start);
        p.nonopt_end = -1;
      }
      ++p.optind;
    }
    if (p.nonopt_start != -1 && p.nonopt_end == -1) p.nonopt_end = p.optind;
    const char* word = p.argv[p.optind];
    if (std::strcmp(word, "--") == 0) {
      ++p.optind;
      return finish(p);
    }
    if (word[1] == '-') return long_option(p, word + 2);
    p.place = word + 1;
  }
  return short_option(p);
}

}  // namespace argparse
