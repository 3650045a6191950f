#include "main/argparse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "testing/argv_support.h"

namespace {

enum { kIp = 256, kIpv4, kIpv6, kAction, kHelp, kVerbose, kVerboseTwin, kFirmwareFile, kFile, kChannel = 'c' };

constexpr argparse::LongOption kTable[] = {
    {"help", argparse::Argument::None, kHelp},
    {"verbose", argparse::Argument::None, kVerbose},
    {"action", argparse::Argument::Required, kAction},
    {"ipv4", argparse::Argument::Required, kIpv4},
    {"ipv6", argparse::Argument::Required, kIpv6},
    {"ip", argparse::Argument::Required, kIp},
    {"channel", argparse::Argument::Required, kChannel},
    {"firmwarefile", argparse::Argument::Required, kFirmwareFile},
    {"verbose", argparse::Argument::None, kVerboseTwin},
    {"create", argparse::Argument::Required, kChannel},
    {"file", argparse::Argument::Required, kFile},
};

// One parse of a command line: what each call returned, the words left
// behind the options, and the diagnostics.
struct Trace {
  std::vector<std::string> results;  // "code" or "code=value"
  std::vector<std::string> rest;
  std::string diagnostics;
  std::vector<int> optopts;  // optopt after each error
};

std::string describe(int code) {
  if (code == argparse::kError) return "?";
  if (code < 256) return std::string(1, static_cast<char>(code));
  return std::to_string(code);
}

Trace parse(std::vector<std::string> words) {
  words.insert(words.begin(), "prog");
  TestArgv args(std::move(words));
  std::FILE* diagnostics = std::tmpfile();
  argparse::Parser parser =
      argparse::make_parser(args.argc(), args.argv(), "abc:d:012", kTable, std::size(kTable), "prog", Reporter{stdout, diagnostics});
  Trace run;
  for (int code; (code = argparse::next_option(parser)) != argparse::kEnd;) {
    std::string entry = describe(code);
    if (parser.optarg) entry += "=" + std::string(parser.optarg);
    if (code == argparse::kError) run.optopts.push_back(parser.optopt);
    run.results.push_back(entry);
  }
  for (int i = parser.optind; i < parser.argc; ++i) run.rest.emplace_back(args.argv()[i]);
  run.diagnostics = read_and_close(diagnostics);
  return run;
}

using Words = std::vector<std::string>;
const std::string kIpCode = std::to_string(kIp), kActionCode = std::to_string(kAction);

TEST(Argparse, NonOptionsMoveBehindTheOptionsInOrder) {
  Trace run = parse({"x", "-a", "y", "--ip", "1", "z", "-b"});
  EXPECT_EQ(run.results, (Words{"a", kIpCode + "=1", "b"}));
  EXPECT_EQ(run.rest, (Words{"x", "y", "z"}));
  EXPECT_EQ(run.diagnostics, "");

  Trace trailing = parse({"-a", "x", "y"});
  EXPECT_EQ(trailing.results, (Words{"a"}));
  EXPECT_EQ(trailing.rest, (Words{"x", "y"}));

  Trace dash = parse({"-", "-a"});  // a lone "-" is an argument, not an option
  EXPECT_EQ(dash.results, (Words{"a"}));
  EXPECT_EQ(dash.rest, (Words{"-"}));
}

TEST(Argparse, PosixlyCorrectStopsAtTheFirstNonOption) {
  ::setenv("POSIXLY_CORRECT", "1", 1);
  Trace run = parse({"-a", "x", "--ip", "1"});
  ::unsetenv("POSIXLY_CORRECT");
  EXPECT_EQ(run.results, (Words{"a"}));
  EXPECT_EQ(run.rest, (Words{"x", "--ip", "1"}));

  Trace permuted = parse({"-a", "x", "--ip", "1"});
  EXPECT_EQ(permuted.results, (Words{"a", kIpCode + "=1"}));
  EXPECT_EQ(permuted.rest, (Words{"x"}));
}

TEST(Argparse, DoubleDashEndsTheOptions) {
  Trace run = parse({"x", "-a", "--", "-b", "--ip"});
  EXPECT_EQ(run.results, (Words{"a"}));
  EXPECT_EQ(run.rest, (Words{"x", "-b", "--ip"}));
}

TEST(Argparse, LongValuesAttachedOrInTheNextWord) {
  Trace run = parse({"--ip=1.2.3.4", "--action", "get_status", "--ip=", "--action", "-a"});
  EXPECT_EQ(run.results, (Words{kIpCode + "=1.2.3.4", kActionCode + "=get_status", kIpCode + "=", kActionCode + "=-a"}));
  EXPECT_EQ(run.rest, Words{});

  Trace equals_kept = parse({"--ip=a=b"});
  EXPECT_EQ(equals_kept.results, (Words{kIpCode + "=a=b"}));
}

TEST(Argparse, UniquePrefixesSelectAndTheExactNameWins) {
  EXPECT_EQ(parse({"--act=x"}).results, (Words{kActionCode + "=x"}));
  EXPECT_EQ(parse({"--a", "x"}).results, (Words{kActionCode + "=x"}));
  EXPECT_EQ(parse({"--verbose"}).results, (Words{std::to_string(kVerbose)}));
  // "ip" is met after two differing prefix matches, "ipv4" and "ipv6"
  EXPECT_EQ(parse({"--ip", "1"}).results, (Words{kIpCode + "=1"}));
  EXPECT_EQ(parse({"--ipv6", "1"}).results, (Words{std::to_string(kIpv6) + "=1"}));
  EXPECT_EQ(parse({"--ipv", "1"}).results, (Words{"?"}));
  EXPECT_EQ(parse({"--file", "f"}).results, (Words{std::to_string(kFile) + "=f"}));
  EXPECT_EQ(parse({"--fir", "f"}).results, (Words{std::to_string(kFirmwareFile) + "=f"}));
  // channel and create act alike, so their shared prefix is no ambiguity
  EXPECT_EQ(parse({"--c=2"}).results, (Words{"c=2"}));
}

TEST(Argparse, PrefixesOfSeveralEntriesAreAmbiguous) {
  Trace verb = parse({"--verb"});  // the second "verbose" entry counts
  EXPECT_EQ(verb.results, (Words{"?"}));
  EXPECT_EQ(verb.diagnostics, "prog: ambiguous option -- verb\n");

  Trace fi = parse({"--fi", "x"});
  EXPECT_EQ(fi.results, (Words{"?"}));
  EXPECT_EQ(fi.rest, (Words{"x"}));
  EXPECT_EQ(fi.diagnostics, "prog: ambiguous option -- fi\n");

  Trace with_value = parse({"--f=x"});
  EXPECT_EQ(with_value.diagnostics, "prog: ambiguous option -- f\n");
  EXPECT_EQ(with_value.optopts, (std::vector<int>{0}));
}

TEST(Argparse, LongOptionErrorsAreReportedAndParsingGoesOn) {
  Trace run = parse({"--nope=1", "--help=yes", "-a", "--ip"});
  EXPECT_EQ(run.results, (Words{"?", "?", "a", "?"}));
  EXPECT_EQ(run.diagnostics,
            "prog: unknown option -- nope=1\n"
            "prog: option doesn't take an argument -- help\n"
            "prog: option requires an argument -- ip\n");
  EXPECT_EQ(run.rest, Words{});

  Trace empty_name = parse({"--=x"});
  EXPECT_EQ(empty_name.results, (Words{"?"}));
  EXPECT_EQ(empty_name.diagnostics, "prog: unknown option -- =x\n");
}

TEST(Argparse, ShortClustersAndValues) {
  EXPECT_EQ(parse({"-01", "-2"}).results, (Words{"0", "1", "2"}));
  EXPECT_EQ(parse({"-c2", "-c", "3", "-ac4"}).results, (Words{"c=2", "c=3", "a", "c=4"}));
  EXPECT_EQ(parse({"-c", "-a"}).results, (Words{"c=-a"}));
  EXPECT_EQ(parse({"-d", "x", "y"}).rest, (Words{"y"}));
}

TEST(Argparse, ShortOptionErrorsNameTheLetter) {
  Trace run = parse({"-i", "1.2.3.4", "-a:", "-c"});
  EXPECT_EQ(run.results, (Words{"?", "a", "?", "?"}));
  EXPECT_EQ(run.optopts, (std::vector<int>{'i', ':', 'c'}));
  EXPECT_EQ(run.diagnostics,
            "prog: unknown option -- i\n"
            "prog: unknown option -- :\n"
            "prog: option requires an argument -- c\n");
  EXPECT_EQ(run.rest, (Words{"1.2.3.4"}));
}

}  // namespace
