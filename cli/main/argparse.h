// A getopt_long-compatible command-line parser: short option strings such as
// "abc:d:", long options with unique-prefix matching, "--name=value" and
// "--name value", permutation of non-options (off when POSIXLY_CORRECT is set),
// "--" to end the options, and diagnostics on a chosen stream.
#pragma once

#include <cstddef>
#include "util/reporter.h"

namespace argparse {

enum class Argument { None, Required };

struct LongOption {
  const char* name;
  Argument argument;
  // Returned by next_option when this entry is selected; keep it apart from
  // the short option letters (e.g. 256 and up). Two entries that share a
  // prefix only make it ambiguous when their argument kind or id differ.
  int id;
};

// Returned for an unknown option, a missing value or an ambiguous prefix.
constexpr int kError = '?';
// Returned once the options are exhausted; `optind` then indexes the first non-option.
constexpr int kEnd = -1;

struct Parser {
  int argc = 0;
  char** argv = nullptr;  // permuted in place: non-options move behind the options
  const char* shorts = "";
  const LongOption* longs = nullptr;
  std::size_t long_count = 0;
  const char* program = "";  // prefix of every diagnostic
  Reporter diagnostics{nullptr, nullptr};  // none when its err is nullptr

  int optind = 1;                 // next argument word to look at
  const char* optarg = nullptr;   // value of the option just returned, nullptr when none
  int optopt = 0;                 // the offending short letter after kError (0 for long options)
  int long_index = -1;            // table index of the long option just returned, -1 otherwise

  // Scanning state.
  bool started = false;
  bool permute = true;
  const char* place = "";  // rest of a short-option cluster being read
  int nonopt_start = -1;   // block of non-options skipped so far, [start, end)
  int nonopt_end = -1;
};

// A parser over argv with diagnostics to the standard error of `diagnostics`
// ("program: message\n").
Parser make_parser(int argc, char** argv, const char* shorts, const LongOption* longs, std::size_t long_count,
                   const char* program, const Reporter& diagnostics);

// The next option: its letter, a long option's id, kError, or kEnd.
int next_option(Parser& parser);

}  // namespace argparse
