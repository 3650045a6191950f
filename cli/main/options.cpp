#include "main/options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <new>

#include "json/json.h"
#include "main/argparse.h"
#include "net/net.h"
#include "util/text.h"
#include "varnkit_config.h"

namespace {

constexpr const char* kVersion = VARNU_CLI_VERSION;
constexpr const char* kShortOptions = "abc:d:012";

// Long option ids; --channel and --create share the id of -c because they act alike.
enum Id {
  kChannel = 'c',
  kVersionOption = 256,
  kHelp,
  kVerbose,
  kVerboseTwin,
  kAction,
  kChannelCsvFile,
  kChannelGroupsCsvFile,
  kChannelInputsCsvFile,
  kIp,
  kBackupFileOut,
  kBackupFileOutType,
  kBackupConfig,
  kBackupFileIn,
  kFirmwareFile,
  kDelete,
  kFile,
  kJson,
  kWith,
  kTftpBlksize,
  kEvents,
  kPlan,
  kVerify,
  kGatewayPin,
};

using argparse::Argument;

// Table order matters: the first "verbose" wins on the full name, and the
// second one makes every shorter prefix of it ambiguous.
constexpr argparse::LongOption kLongOptions[] = {
    {"version", Argument::None, kVersionOption},
    {"help", Argument::None, kHelp},
    {"verbose", Argument::None, kVerbose},
    {"action", Argument::Required, kAction},
    {"channel", Argument::Required, kChannel},
    {"channelcsvfile", Argument::Required, kChannelCsvFile},
    {"channelgroupscsvfile", Argument::Required, kChannelGroupsCsvFile},
    {"channelinputscsvfile", Argument::Required, kChannelInputsCsvFile},
    {"ip", Argument::Required, kIp},
    {"backupfileout", Argument::Required, kBackupFileOut},
    {"backupfileouttype", Argument::Required, kBackupFileOutType},
    {"backupconfig", Argument::Required, kBackupConfig},
    {"backupfilein", Argument::Required, kBackupFileIn},
    {"firmwarefile", Argument::Required, kFirmwareFile},
    {"delete", Argument::Required, kDelete},
    {"verbose", Argument::None, kVerboseTwin},
    {"create", Argument::Required, kChannel},
    {"file", Argument::Required, kFile},
    // Initial letters no other option has: every prefix unique before stays unique.
    {"json", Argument::None, kJson},
    {"with", Argument::Required, kWith},
    {"tftp-blksize", Argument::Required, kTftpBlksize},
    // "verify" shares only "ver", which version and verbose made ambiguous already.
    {"events", Argument::Required, kEvents},
    {"plan", Argument::None, kPlan},
    {"verify", Argument::None, kVerify},
    {"gateway-pin", Argument::Required, kGatewayPin},
};

constexpr const char* kHelpLines[] = {
    "Help\n",
    "version\t\tShow the command version.\n",
    "help\t\tShow the command help.\n",
    "action\t\tsetup_channel|get_backup|put_backup|push_firmware.\n",
    "ip\t\tIP address of the controller.\n",
    "channel\t\tChannel number (1-4).\n",
    "channelcsvfile\tChannel CSV file path.\n",
    "firmwarefile\tFirmware binary file path.\n",
    "\t\tshow_backup|diff_backup|export_channel read backups and export CSV.\n",
    "backupfilein\tBackup archive, configuration archive or backup folder to read.\n",
    "with\t\tThe newer backup diff_backup compares with.\n",
    "json\t\tshow_backup, diff_backup and get_status write one JSON document.\n",
    "tftp-blksize\tTFTP block size to ask for (8-65464, default 1468).\n",
    "events\t\tWrite the run's events as JSON lines to this open file descriptor.\n",
    "plan\t\tput_backup: show what a restore would do, writing nothing.\n",
    "verify\t\tpush_firmware: wait until the gateway runs the new version (10 min at most).\n",
    "gateway-pin\tMODEL,SERIAL,MAC put_backup, setup_channel and push_firmware write only to\n",
    "\t\tthat gateway (an empty field is not checked).\n",
};

// Calls `take` for every token of the JSON text up to the end or the first
// array end; false when the text is not JSON before that point.
template <typename Take>
bool for_each_json_value(const char* value, Take take) {
  json::JsonReader reader;
  json::open_text(reader, value);
  json::Token kind;
  for (;;) {
    kind = json::next_token(reader);
    if (kind == json::Token::Error || kind == json::Token::Done || kind == json::Token::ArrayEnd) break;
    take(reader, kind);
  }
  // Running out of memory is not a malformed value: let the caller end the run.
  const bool out_of_memory = json::ran_out_of_memory(reader);
  json::close(reader);
  if (out_of_memory) throw std::bad_alloc();
  return kind != json::Token::Error;
}

int32_t saturate(long long value) {
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

int32_t number_to_channel(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (value <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int32_t>(value);  // truncates toward zero
}

void echo_text(const Reporter& reporter, const char* format, const char* value, std::optional<std::string>* field) {
  report(reporter, format, value);
  *field = value;
}

// The option as the user may have written it, for complaints.
std::string option_name(const argparse::Parser& parser, int code) {
  if (parser.long_index >= 0) return std::string("--") + kLongOptions[parser.long_index].name;
  return std::string("-") + static_cast<char>(code);
}

// A list option's value that is not JSON: a bare word would otherwise read as
// an empty list, which means "all" or "none" to the actions.
template <typename T>
ParseOutcome take_list(const argparse::Parser& parser, int code, std::optional<std::vector<T>> read,
                       std::optional<std::vector<T>>* field, const Reporter& reporter) {
  if (!read) {
    report_error(reporter, "%s: option %s takes a JSON list such as [\"a\",\"b\"], not '%s'\n", parser.program,
                 option_name(parser, code).c_str(), escape_bytes(parser.optarg).c_str());
    return ParseOutcome::UsageError;
  }
  *field = std::move(read);
  return ParseOutcome::Run;
}

ParseOutcome echo_list(const argparse::Parser& parser, int code, const Reporter& reporter, const char* echo_format,
                       std::optional<std::vector<std::string>>* field) {
  report(reporter, echo_format, parser.optarg);
  report(reporter, "optarg=#%s#", parser.optarg);
  return take_list(parser, code, read_text_list(parser.optarg), field, reporter);
}

// Naming a configuration twice would store it twice or overwrite it.
ParseOutcome take_backup_list(const argparse::Parser& parser, int code, const Reporter& reporter,
                              std::optional<std::vector<std::string>>* field) {
  if (take_list(parser, code, read_text_list(parser.optarg), field, reporter) != ParseOutcome::Run)
    return ParseOutcome::UsageError;
  const std::vector<std::string>& names = **field;
  for (auto name = names.begin(); name != names.end(); ++name) {
    if (std::find(names.begin(), name, *name) != name) {
      report_error(reporter, "%s: option %s names the configuration '%s' twice\n", parser.program,
                   option_name(parser, code).c_str(), escape_bytes(*name).c_str());
      return ParseOutcome::UsageError;
    }
  }
  return ParseOutcome::Run;
}

void report_code(const Reporter& reporter, int code) { report(reporter, "?? getopt returned character code 0%o ??\n", code); }

// A decimal number from `low` to `high`; nothing otherwise.
std::optional<long> read_number(const char* value, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(value, &end, 10);
  if (end == value || *end != '\0' || errno != 0 || number < low || number > high) return std::nullopt;
  return number;
}

// "LUMARO-2,LM2-000817,02:00:00:00:08:17": three fields, any of them empty.
std::optional<GatewayPin> read_gateway_pin(const std::string& value) {
  const std::size_t first = value.find(','), second = value.find(',', first + 1);
  if (first == std::string::npos || second == std::string::npos || value.find(',', second + 1) != std::string::npos)
    return std::nullopt;
  return GatewayPin{value.substr(0, first), value.substr(first + 1, second - first - 1), value.substr(second + 1)};
}

// Run to go on with the next option; Finished after --help or --version;
// UsageError after a value that cannot be used (reported).
ParseOutcome apply_option(int code, const argparse::Parser& parser, int word, int* digit_word, CommandLine* line,
                  const Reporter& reporter) {
  const char* value = parser.optarg;
  switch (code) {
    case kVersionOption:
      report(reporter, "Version %s\n", kVersion);
      return ParseOutcome::Finished;
    case kHelp:
      for (const char* help_line : kHelpLines) report(reporter, "%s", help_line);
      return ParseOutcome::Finished;
    case kTftpBlksize:
      report(reporter, "option %s with arg %s\n", "tftp-blksize", value);
      if (const std::optional<long> blksize = read_number(value, TFTP_BLKSIZE_MIN, TFTP_BLKSIZE_MAX)) {
        line->tftp_blksize = *blksize;
        break;
      }
      report_error(reporter, "%s: --tftp-blksize takes a number from %ld to %ld, not \"%s\"\n", parser.program,
                   TFTP_BLKSIZE_MIN, TFTP_BLKSIZE_MAX, escape_bytes(value).c_str());
      return ParseOutcome::UsageError;
    case kEvents:
      report(reporter, "option %s with arg %s\n", "events", value);
      if (const std::optional<long> fd = read_number(value, 0, INT_MAX)) {
        line->events_fd = static_cast<int>(*fd);
        break;
      }
      report_error(reporter, "%s: --events takes an open file descriptor number, not \"%s\"\n", parser.program,
                   escape_bytes(value).c_str());
      return ParseOutcome::UsageError;
    case kPlan:
      report(reporter, "option %s\n", "plan");
      line->plan = true;
      break;
    case kGatewayPin:
      report(reporter, "option %s with arg %s\n", "gateway-pin", value);
      if (std::optional<GatewayPin> pin = read_gateway_pin(value)) {
        line->gateway_pin = std::move(pin);
        break;
      }
      report_error(reporter, "%s: --gateway-pin takes MODEL,SERIAL,MAC (fields may be empty), not \"%s\"\n",
                   parser.program, escape_bytes(value).c_str());
      return ParseOutcome::UsageError;
    case kVerify:
      report(reporter, "option %s\n", "verify");
      line->verify = true;
      break;
    case kVerbose:
      report(reporter, "option %s\n", "verbose");
      line->verbose = true;
      break;
    case kJson:
      report(reporter, "option %s\n", "json");
      line->json = true;
      break;
    case kWith: echo_text(reporter, "WITH=%s\n", value, &line->with); break;
    case kDelete:
    case kFile:
      report(reporter, "option %s with arg %s\n", kLongOptions[parser.long_index].name, value);
      break;
    case 'a':
      echo_text(reporter, "ACTION=%s\n", "(null)", &line->action);
      break;
    case kAction: echo_text(reporter, "ACTION=%s\n", value, &line->action); break;
    case kIp: echo_text(reporter, "IP=%s\n", value, &line->ip); break;
    case kBackupFileOut: echo_text(reporter, "BackupFileOut%s\n", value, &line->backupfileout); break;
    case kBackupFileOutType: echo_text(reporter, "BackupFileOutType%s\n", value, &line->backupfileouttype); break;
    case kBackupFileIn: echo_text(reporter, "BackupFileIn%s\n", value, &line->backupfilein); break;
    case kFirmwareFile: echo_text(reporter, "FIRMWAREFILE=%s\n", value, &line->firmwarefile); break;
    case kChannel:
      report(reporter, "CHANNEL=%s\n", value);
      return take_list(parser, code, read_channel_list(value), &line->channel, reporter);
    case kChannelCsvFile: return echo_list(parser, code, reporter, "CHANNELCSVFILE=%s\n", &line->channelcsvfile);
    case kChannelGroupsCsvFile:
      return echo_list(parser, code, reporter, "CHANNELGROUPSCSVFILE=%s\n", &line->channelgroupscsvfile);
    case kChannelInputsCsvFile:
      return echo_list(parser, code, reporter, "CHANNELINPUTSCSVFILE=%s\n", &line->channelinputscsvfile);
    case kBackupConfig:
      report(reporter, "BackupConfig%s\n", value);
      return take_backup_list(parser, code, reporter, &line->backupconfig);
    case '0':
    case '1':
    case '2':
      if (*digit_word != 0 && *digit_word != word) report(reporter, "digits occur in two different argv-elements.\n");
      *digit_word = word;
      report(reporter, "option %c\n", code);
      break;
    default:  // -b, -d and every parser error
      report_code(reporter, code);
      break;
  }
  return ParseOutcome::Run;
}

void print_summary(const CommandLine& line, const Reporter& reporter) {
  if (line.action) report(reporter, "optAction=%s\n", line.action->c_str());
  if (line.ip) report(reporter, "optIP=%s\n", line.ip->c_str());
  if (line.backupfileout) report(reporter, "optBackupFileOut=%s\n", line.backupfileout->c_str());
  if (line.backupfileouttype) report(reporter, "optBackupFileOutType=%s\n", line.backupfileouttype->c_str());
}

}  // namespace

std::optional<std::vector<std::string>> read_text_list(const char* value) {
  std::vector<std::string> list;
  const bool json = for_each_json_value(value, [&list](const json::JsonReader& reader, json::Token kind) {
    if (kind == json::Token::String) list.emplace_back(json::token_text(reader));
  });
  if (!json) return std::nullopt;
  return list;
}

std::optional<std::vector<int32_t>> read_channel_list(const char* value) {
  std::vector<int32_t> list;
  const bool json = for_each_json_value(value, [&list](const json::JsonReader& reader, json::Token kind) {
    if (kind == json::Token::String) list.push_back(saturate(std::strtoll(json::token_text(reader), nullptr, 10)));
    if (kind == json::Token::Number) list.push_back(number_to_channel(json::token_number(reader)));
  });
  if (!json) return std::nullopt;
  list.erase(std::find(list.begin(), list.end(), 0), list.end());
  return list;
}

bool asks_for_json(int argc, char** argv) {
  // A copy, since the parser reorders the words it scans.
  std::vector<char*> words(argv, argv + argc);
  argparse::Parser parser = argparse::make_parser(argc, words.data(), kShortOptions, kLongOptions,
                                                  std::size(kLongOptions), "", Reporter{nullptr, nullptr});
  for (int code; (code = argparse::next_option(parser)) != argparse::kEnd;)
    if (code == kJson) return true;
  return false;
}

ParseOutcome parse_command_line(int argc, char** argv, const char* program, CommandLine* line,
                                const Reporter& reporter) {
  argparse::Parser parser =
      argparse::make_parser(argc, argv, kShortOptions, kLongOptions, std::size(kLongOptions), program, reporter);
  try {
    int digit_word = 0;  // argument word of the last digit option
    for (;;) {
      const int word = parser.optind ? parser.optind : 1;
      const int code = argparse::next_option(parser);
      if (code == argparse::kEnd) break;
      const ParseOutcome outcome = apply_option(code, parser, word, &digit_word, line, reporter);
      if (outcome != ParseOutcome::Run) return outcome;
    }
  } catch (const std::bad_alloc&) {
    report_error(reporter, "%s: out of memory while reading the command line\n", program);
    return ParseOutcome::OutOfMemory;
  }
  if (parser.optind < argc) {
    report(reporter, "non-option ARGV-elements: ");
    for (int i = parser.optind; i < argc; ++i) report(reporter, "%s ", argv[i]);
    report(reporter, "\n");
  }
  print_summary(*line, reporter);
  return ParseOutcome::Run;
}
