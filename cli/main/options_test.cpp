#include "main/options.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "main/argparse.h"
#include "testing/argv_support.h"
#include "net/net.h"

namespace {

struct Parsed {
  ParseOutcome outcome;
  CommandLine line;
  std::string out, err;
};

Parsed parse(std::vector<std::string> words) {
  words.insert(words.begin(), "varnu-cli");
  TestArgv args(std::move(words));
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Parsed parsed;
  parsed.outcome = parse_command_line(args.argc(), args.argv(), "varnu-cli", &parsed.line, Reporter{out, err});
  parsed.out = read_and_close(out);
  parsed.err = read_and_close(err);
  return parsed;
}

constexpr const char* kHelpText =
    "Help\n"
    "version\t\tShow the command version.\n"
    "help\t\tShow the command help.\n"
    "action\t\tsetup_channel|get_backup|put_backup|push_firmware.\n"
    "ip\t\tIP address of the controller.\n"
    "channel\t\tChannel number (1-4).\n"
    "channelcsvfile\tChannel CSV file path.\n"
    "firmwarefile\tFirmware binary file path.\n"
    "\t\tshow_backup|diff_backup|export_channel read backups and export CSV.\n"
    "backupfilein\tBackup archive, configuration archive or backup folder to read.\n"
    "with\t\tThe newer backup diff_backup compares with.\n"
    "json\t\tshow_backup, diff_backup and get_status write one JSON document.\n"
    "tftp-blksize\tTFTP block size to ask for (8-65464, default 1468).\n"
    "events\t\tWrite the run's events as JSON lines to this open file descriptor.\n"
    "plan\t\tput_backup: show what a restore would do, writing nothing.\n"
    "verify\t\tpush_firmware: wait until the gateway runs the new version (10 min at most).\n"
    "gateway-pin\tMODEL,SERIAL,MAC put_backup, setup_channel and push_firmware write only to\n"
    "\t\tthat gateway (an empty field is not checked).\n";

using Channels = std::vector<int32_t>;
using Texts = std::vector<std::string>;

TEST(CommandLine, VersionAndHelpFinishTheRunAfterEarlierEchoes) {
  Parsed version = parse({"--version", "--ip", "x"});
  EXPECT_EQ(version.outcome, ParseOutcome::Finished);
  EXPECT_EQ(version.out, "Version 1.2.0\n");

  Parsed help = parse({"--ip", "10.0.0.5", "--help", "--action", "get_status", "stray"});
  EXPECT_EQ(help.outcome, ParseOutcome::Finished);
  EXPECT_EQ(help.out, std::string("IP=10.0.0.5\n") + kHelpText);
  EXPECT_EQ(help.err, "");

  EXPECT_EQ(parse({"--he"}).out, kHelpText);
}

TEST(CommandLine, EchoesThenSummariesInTheirOwnOrder) {
  Parsed parsed = parse({"--ip", "127.0.0.1:9", "--action", "get_status"});
  EXPECT_EQ(parsed.outcome, ParseOutcome::Run);
  EXPECT_EQ(parsed.out, "IP=127.0.0.1:9\nACTION=get_status\noptAction=get_status\noptIP=127.0.0.1:9\n");
  EXPECT_EQ(parsed.line.action, "get_status");
  EXPECT_EQ(parsed.line.ip, "127.0.0.1:9");

  Parsed backup = parse({"--backupfileouttype=zip", "--backupfileout=/tmp/b", "--backupfilein", "in.zip",
                         "--firmwarefile=fw.bin", "--backupconfig=[\"dali\"]", "--action=get_backup"});
  EXPECT_EQ(backup.out,
            "BackupFileOutTypezip\n"
            "BackupFileOut/tmp/b\n"
            "BackupFileInin.zip\n"
            "FIRMWAREFILE=fw.bin\n"
            "BackupConfig[\"dali\"]\n"
            "ACTION=get_backup\n"
            "optAction=get_backup\n"
            "optBackupFileOut=/tmp/b\n"
            "optBackupFileOutType=zip\n");
  EXPECT_EQ(backup.line.backupfilein, "in.zip");
  EXPECT_EQ(backup.line.firmwarefile, "fw.bin");
  EXPECT_EQ(backup.line.backupconfig, Texts{"dali"});
  EXPECT_FALSE(backup.line.ip);
  EXPECT_FALSE(backup.line.channel);

  Parsed nothing = parse({});
  EXPECT_EQ(nothing.out, "");
  EXPECT_FALSE(nothing.line.action);
}

TEST(CommandLine, LaterOccurrencesReplaceEarlierOnes) {
  Parsed parsed = parse({"--ip", "a", "--ip=b", "--channel=[1]", "-c", "[2,3]", "--channelcsvfile=\"x\"",
                         "--channelcsvfile=[]"});
  EXPECT_EQ(parsed.line.ip, "b");
  EXPECT_EQ(parsed.line.channel, (Channels{2, 3}));
  EXPECT_EQ(parsed.line.channelcsvfile, Texts{});
}

TEST(CommandLine, PrefixesAndAmbiguities) {
  Parsed act = parse({"--act=get_status"});
  EXPECT_EQ(act.out, "ACTION=get_status\noptAction=get_status\n");

  Parsed verb = parse({"--verb"});
  EXPECT_EQ(verb.out, "?? getopt returned character code 077 ??\n");
  EXPECT_EQ(verb.err, "varnu-cli: ambiguous option -- verb\n");
  EXPECT_FALSE(verb.line.verbose);

  Parsed full = parse({"--verbose"});
  EXPECT_EQ(full.out, "option verbose\n");
  EXPECT_TRUE(full.line.verbose);

  Parsed fi = parse({"--fi", "x"});
  EXPECT_EQ(fi.out, "?? getopt returned character code 077 ??\nnon-option ARGV-elements: x \n");
  EXPECT_EQ(fi.err, "varnu-cli: ambiguous option -- fi\n");
  EXPECT_FALSE(fi.line.firmwarefile);

  EXPECT_EQ(parse({"--delete", "d", "--file=f"}).out, "option delete with arg d\noption file with arg f\n");
  EXPECT_EQ(parse({"--cr=[4]"}).line.channel, Channels{4});
  // The TFTP block size is the only option starting with "t"; out of range ends the parse.
  EXPECT_EQ(parse({"--t=65464"}).line.tftp_blksize, 65464);
  for (const char* value : {"7", "65465", "1468x", ""}) {
    const Parsed bad = parse({"--tftp-blksize", value});
    EXPECT_EQ(bad.outcome, ParseOutcome::UsageError) << value;
    EXPECT_EQ(bad.err, std::string("varnu-cli: --tftp-blksize takes a number from 8 to 65464, not \"") + value + "\"\n");
  }
  // The pin is the only option starting with "g": three fields, any of them empty.
  const Parsed pin = parse({"--g=,LM2-000817,"});
  ASSERT_TRUE(pin.line.gateway_pin);
  EXPECT_EQ(std::vector<std::string>({pin.line.gateway_pin->model, pin.line.gateway_pin->serial,
                                      pin.line.gateway_pin->mac}),
            (Texts{"", "LM2-000817", ""}));
  for (const char* value : {"LUMARO-2", "LUMARO-2,LM2-1", "a,b,c,d", ""}) {
    const Parsed bad = parse({"--gateway-pin", value});
    EXPECT_EQ(bad.outcome, ParseOutcome::UsageError) << value;
    EXPECT_EQ(bad.err, std::string("varnu-cli: --gateway-pin takes MODEL,SERIAL,MAC (fields may be empty), not \"") +
                           value + "\"\n");
  }
}

// Options added later must not take a prefix that the original table resolved:
// every prefix of an original name is ambiguous now exactly when it was then.
TEST(CommandLine, AddedOptionsKeepTheOriginalPrefixesAsTheyWere) {
  using argparse::Argument;
  constexpr argparse::LongOption original[] = {
      {"version", Argument::None, 1},        {"help", Argument::None, 2},
      {"verbose", Argument::None, 3},        {"action", Argument::Required, 4},
      {"channel", Argument::Required, 5},    {"channelcsvfile", Argument::Required, 6},
      {"channelgroupscsvfile", Argument::Required, 7}, {"channelinputscsvfile", Argument::Required, 8},
      {"ip", Argument::Required, 9},         {"backupfileout", Argument::Required, 10},
      {"backupfileouttype", Argument::Required, 11},   {"backupconfig", Argument::Required, 12},
      {"backupfilein", Argument::Required, 13},        {"firmwarefile", Argument::Required, 14},
      {"delete", Argument::Required, 15},    {"verbose", Argument::None, 16},
      {"create", Argument::Required, 5},     {"file", Argument::Required, 17},
  };
  for (const argparse::LongOption& option : original) {
    for (std::size_t length = 1; option.name[length - 1]; ++length) {
      const std::string word = "--" + std::string(option.name, length);
      TestArgv args({"p", word, "x"});
      std::FILE* err = std::tmpfile();
      argparse::Parser parser =
          argparse::make_parser(args.argc(), args.argv(), "", original, std::size(original), "p",
                                Reporter{stdout, err});
      argparse::next_option(parser);
      const bool was_ambiguous = read_and_close(err).find("ambiguous") != std::string::npos;
      const Parsed now = parse({word, "x"});
      EXPECT_EQ(now.err.find("ambiguous") != std::string::npos, was_ambiguous) << word;
      EXPECT_FALSE(now.line.json || now.line.with) << word;
    }
  }
  EXPECT_TRUE(parse({"--j"}).line.json);
  EXPECT_EQ(parse({"--w", "new.zip"}).line.with, "new.zip");
}

TEST(CommandLine, ShortOptionsAndTheirOddReports) {
  Parsed unknown = parse({"-i", "1.2.3.4"});
  EXPECT_EQ(unknown.out, "?? getopt returned character code 077 ??\nnon-option ARGV-elements: 1.2.3.4 \n");
  EXPECT_EQ(unknown.err, "varnu-cli: unknown option -- i\n");

  EXPECT_EQ(parse({"-b"}).out, "?? getopt returned character code 0142 ??\n");
  EXPECT_EQ(parse({"-d", "x"}).out, "?? getopt returned character code 0144 ??\n");

  Parsed missing = parse({"-c"});
  EXPECT_EQ(missing.out, "?? getopt returned character code 077 ??\n");
  EXPECT_EQ(missing.err, "varnu-cli: option requires an argument -- c\n");
  EXPECT_FALSE(missing.line.channel);

  Parsed a = parse({"-a"});
  EXPECT_EQ(a.out, "ACTION=(null)\noptAction=(null)\n");
  EXPECT_EQ(a.line.action, "(null)");

  EXPECT_EQ(parse({"-c2"}).line.channel, Channels{2});
  EXPECT_EQ(parse({"-c", "[3]"}).out, "CHANNEL=[3]\n");
}

TEST(CommandLine, DigitOptionsReportWordChanges) {
  EXPECT_EQ(parse({"-0", "-1"}).out, "option 0\ndigits occur in two different argv-elements.\noption 1\n");
  EXPECT_EQ(parse({"-01"}).out, "option 0\noption 1\n");
  EXPECT_EQ(parse({"-01", "-2"}).out,
            "option 0\noption 1\ndigits occur in two different argv-elements.\noption 2\n");
  // the word index is taken before the parser skips a non-option
  EXPECT_EQ(parse({"x", "-0", "-1"}).out,
            "option 0\ndigits occur in two different argv-elements.\noption 1\nnon-option ARGV-elements: x \n");
}

TEST(CommandLine, NonOptionsAreListedAfterTheOptions) {
  Parsed parsed = parse({"x", "--ip", "1", "y", "--", "--action=z"});
  EXPECT_EQ(parsed.out, "IP=1\nnon-option ARGV-elements: x y --action=z \noptIP=1\n");
  EXPECT_FALSE(parsed.line.action);

  ::setenv("POSIXLY_CORRECT", "1", 1);
  Parsed posix = parse({"--ip", "1", "x", "--action", "get_status"});
  ::unsetenv("POSIXLY_CORRECT");
  EXPECT_EQ(posix.out, "IP=1\nnon-option ARGV-elements: x --action get_status \noptIP=1\n");
  EXPECT_FALSE(posix.line.action);
}

TEST(CommandLine, ChannelValuesAreReadAsJson) {
  Parsed array = parse({"--channel=[1,3]"});
  EXPECT_EQ(array.out, "CHANNEL=[1,3]\n");
  EXPECT_EQ(array.line.channel, (Channels{1, 3}));
  EXPECT_EQ(parse({"--channel=2.9"}).line.channel, Channels{2});
  EXPECT_EQ(parse({"--channel=\"4\""}).line.channel, Channels{4});
  EXPECT_EQ(parse({"--channel=[1,0,4]"}).line.channel, Channels{1});
  EXPECT_EQ(parse({"--create", "[2, \"3\", true, null, {}]"}).line.channel, (Channels{2, 3}));
}

// A list that is not JSON, or a configuration named twice, ends the run
// before any action: one line naming the option, after the echo lines.
TEST(CommandLine, UnusableListsAreUsageErrors) {
  const struct {
    std::vector<std::string> words;
    std::string out, err;
  } rows[] = {
      {{"--channel=one", "--ip=x"}, "CHANNEL=one\n",
       "varnu-cli: option --channel takes a JSON list such as [\"a\",\"b\"], not 'one'\n"},
      {{"--channelcsvfile=a.csv"}, "CHANNELCSVFILE=a.csv\noptarg=#a.csv#",
       "varnu-cli: option --channelcsvfile takes a JSON list such as [\"a\",\"b\"], not 'a.csv'\n"},
      {{"--backupconfig=dali1"}, "BackupConfigdali1\n",
       "varnu-cli: option --backupconfig takes a JSON list such as [\"a\",\"b\"], not 'dali1'\n"},
      {{"--backupconfig", "[\"rlc\",\"dali1\",\"rlc\"]"}, "BackupConfig[\"rlc\",\"dali1\",\"rlc\"]\n",
       "varnu-cli: option --backupconfig names the configuration 'rlc' twice\n"},
      {{"--backupconfig=[\"\\u001b\",\"\\u001b\"]"}, "BackupConfig[\"\\u001b\",\"\\u001b\"]\n",
       "varnu-cli: option --backupconfig names the configuration '\\x1b' twice\n"},
  };
  for (const auto& row : rows) {
    const Parsed parsed = parse(row.words);
    EXPECT_EQ(parsed.outcome, ParseOutcome::UsageError) << row.words[0];
    EXPECT_EQ(parsed.out, row.out);
    EXPECT_EQ(parsed.err, row.err);
  }
  // The empty list stays "all configurations".
  EXPECT_EQ(parse({"--backupconfig=[]"}).line.backupconfig, Texts{});
}

TEST(CommandLine, FileListsAreReadAsJson) {
  Parsed groups = parse({"--channelgroupscsvfile=[\"g1.csv\",\"C:\\\\dir\\\\g2.csv\"]"});
  EXPECT_EQ(groups.out, "CHANNELGROUPSCSVFILE=[\"g1.csv\",\"C:\\\\dir\\\\g2.csv\"]\noptarg=#[\"g1.csv\",\"C:\\\\dir\\\\g2.csv\"]#");
  EXPECT_EQ(groups.line.channelgroupscsvfile, (Texts{"g1.csv", "C:\\dir\\g2.csv"}));

  Parsed inputs = parse({"--channelinputscsvfile", "\"in.csv\""});
  EXPECT_EQ(inputs.out, "CHANNELINPUTSCSVFILE=\"in.csv\"\noptarg=#\"in.csv\"#");
  EXPECT_EQ(inputs.line.channelinputscsvfile, Texts{"in.csv"});
}

TEST(JsonLists, ReadingStopsAtTheFirstErrorOrArrayEnd) {
  EXPECT_EQ(read_text_list("[\"a\", 1, \"b\"]"), (Texts{"a", "b"}));
  EXPECT_EQ(read_text_list("[\"a\", x, \"b\"]"), std::nullopt);
  EXPECT_EQ(read_text_list("[[\"a\"], \"b\"]"), Texts{"a"});
  EXPECT_EQ(read_text_list("{\"k\": \"v\"}"), (Texts{"k", "v"}));
  EXPECT_EQ(read_text_list("\"a\" \"b\""), Texts{"a"});
  EXPECT_EQ(read_text_list(""), Texts{});
  EXPECT_EQ(read_channel_list("[1, 2"), std::nullopt);
  EXPECT_EQ(read_channel_list("[1, 2] x"), (Channels{1, 2}));
}

TEST(JsonLists, ChannelNumbersTruncateAndSaturate) {
  EXPECT_EQ(read_channel_list("[-2.9, 3e0, \" 7x\", \"abc\"]"), (Channels{-2, 3, 7}));
  EXPECT_EQ(read_channel_list("[3000000000, -3000000000, \"99999999999\", \"-99999999999\", 1e999]"),
            (Channels{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX}));
  EXPECT_EQ(read_channel_list("[-0.5, 5]"), Channels{});  // truncates to 0, which ends the list
}

}  // namespace
