#include "main/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <new>

#include "json/json.h"
#include "main/argparse.h"
#include "net/net.h"
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
  kTftpBlksize,
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
    {"tftp-blksize", Argument::Required, kTftpBlksize},
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
};

// Calls `take` for every token of the JSON text up to the first error, the
// end, or the first array end.
template <typename Take>
void for_each_json_value(const char* value, Take take) {
  json::JsonReader reader;
  json::open_text(reader, value);
  for (;;) {
    const json::Token kind = json::next_token(reader);
    if (kind == json::Token::Error || kind == json::Token::Done || kind == json::Token::ArrayEnd) break;
    take(reader, kind);
  }
  // Running out of memory is not a malformed value: let the caller end the run.
  const bool out_of_memory = json::ran_out_of_memory(reader);
  json::close(reader);
  if (out_of_memory) throw std::bad_alloc();
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

void echo_text(std::FILE* out, const char* format, const char* value, std::optional<std::string>* field) {
  std::fprintf(out, format, value);
  *field = value;
}

void echo_list(std::FILE* out, const char* echo_format, const char* value,
               std::optional<std::vector<std::string>>* field) {
  std::fprintf(out, echo_format, value);
  std::fprintf(out, "optarg=#%s#", value);
  *field = read_text_list(value);
}

void report_code(std::FILE* out, int code) { std::fprintf(out, "?? getopt returned character code 0%o ??\n", code); }

// A decimal block size in the TFTP option's range; nothing otherwise.
std::optional<long> read_blksize(const char* value) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(value, &end, 10);
  if (end == value || *end != '\0' || errno != 0 || number < TFTP_BLKSIZE_MIN || number > TFTP_BLKSIZE_MAX)
    return std::nullopt;
  return number;
}

// Run to go on; Finished after --help or --version; UsageError for a bad value.
ParseOutcome apply_option(int code, const argparse::Parser& parser, int word, int* digit_word, CommandLine* line,
                          std::FILE* out, std::FILE* err, const char* program) {
  const char* value = parser.optarg;
  switch (code) {
    case kVersionOption:
      std::fprintf(out, "Version %s\n", kVersion);
      return ParseOutcome::Finished;
    case kHelp:
      for (const char* help_line : kHelpLines) std::fputs(help_line, out);
      return ParseOutcome::Finished;
    case kTftpBlksize:
      std::fprintf(out, "option %s with arg %s\n", "tftp-blksize", value);
      if (const std::optional<long> blksize = read_blksize(value)) {
        line->tftp_blksize = *blksize;
        break;
      }
      std::fprintf(err, "%s: --tftp-blksize takes a number from %ld to %ld, not \"%s\"\n", program, TFTP_BLKSIZE_MIN,
                   TFTP_BLKSIZE_MAX, value);
      return ParseOutcome::UsageError;
    case kVerbose:
      std::fprintf(out, "option %s\n", "verbose");
      line->verbose = true;
      break;
    case kDelete:
    case kFile:
      std::fprintf(out, "option %s with arg %s\n", kLongOptions[parser.long_index].name, value);
      break;
    case 'a':
      echo_text(out, "ACTION=%s\n", "(null)", &line->action);
      break;
    case kAction: echo_text(out, "ACTION=%s\n", value, &line->action); break;
    case kIp: echo_text(out, "IP=%s\n", value, &line->ip); break;
    case kBackupFileOut: echo_text(out, "BackupFileOut%s\n", value, &line->backupfileout); break;
    case kBackupFileOutType: echo_text(out, "BackupFileOutType%s\n", value, &line->backupfileouttype); break;
    case kBackupFileIn: echo_text(out, "BackupFileIn%s\n", value, &line->backupfilein); break;
    case kFirmwareFile: echo_text(out, "FIRMWAREFILE=%s\n", value, &line->firmwarefile); break;
    case kChannel:
      std::fprintf(out, "CHANNEL=%s\n", value);
      line->channel = read_channel_list(value);
      break;
    case kChannelCsvFile: echo_list(out, "CHANNELCSVFILE=%s\n", value, &line->channelcsvfile); break;
    case kChannelGroupsCsvFile:
      echo_list(out, "CHANNELGROUPSCSVFILE=%s\n", value, &line->channelgroupscsvfile);
      break;
    case kChannelInputsCsvFile:
      echo_list(out, "CHANNELINPUTSCSVFILE=%s\n", value, &line->channelinputscsvfile);
      break;
    case kBackupConfig:
      std::fprintf(out, "BackupConfig%s\n", value);
      line->backupconfig = read_text_list(value);
      break;
    case '0':
    case '1':
    case '2':
      if (*digit_word != 0 && *digit_word != word) std::fprintf(out, "digits occur in two different argv-elements.\n");
      *digit_word = word;
      std::fprintf(out, "option %c\n", code);
      break;
    default:  // -b, -d and every parser error
      report_code(out, code);
      break;
  }
  return ParseOutcome::Run;
}

void print_summary(const CommandLine& line, std::FILE* out) {
  if (line.action) std::fprintf(out, "optAction=%s\n", line.action->c_str());
  if (line.ip) std::fprintf(out, "optIP=%s\n", line.ip->c_str());
  if (line.backupfileout) std::fprintf(out, "optBackupFileOut=%s\n", line.backupfileout->c_str());
  if (line.backupfileouttype) std::fprintf(out, "optBackupFileOutType=%s\n", line.backupfileouttype->c_str());
}

}  // namespace

std::vector<std::string> read_text_list(const char* value) {
  std::vector<std::string> list;
  for_each_json_value(value, [&list](const json::JsonReader& reader, json::Token kind) {
    if (kind == json::Token::String) list.emplace_back(json::token_text(reader));
  });
  return list;
}

std::vector<int32_t> read_channel_list(const char* value) {
  std::vector<int32_t> list;
  for_each_json_value(value, [&list](const json::JsonReader& reader, json::Token kind) {
    if (kind == json::Token::String) list.push_back(saturate(std::strtoll(json::token_text(reader), nullptr, 10)));
    if (kind == json::Token::Number) list.push_back(number_to_channel(json::token_number(reader)));
  });
  list.erase(std::find(list.begin(), list.end(), 0), list.end());
  return list;
}

ParseOutcome parse_command_line(int argc, char** argv, const char* program, CommandLine* line, std::FILE* out,
                                std::FILE* err) {
  argparse::Parser parser =
      argparse::make_parser(argc, argv, kShortOptions, kLongOptions, std::size(kLongOptions), program, err);
  try {
    int digit_word = 0;  // argument word of the last digit option
    for (;;) {
      const int word = parser.optind ? parser.optind : 1;
      const int code = argparse::next_option(parser);
      if (code == argparse::kEnd) break;
      const ParseOutcome outcome = apply_option(code, parser, word, &digit_word, line, out, err, program);
      if (outcome != ParseOutcome::Run) return outcome;
    }
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "%s: out of memory while reading the command line\n", program);
    return ParseOutcome::OutOfMemory;
  }
  if (parser.optind < argc) {
    std::fprintf(out, "non-option ARGV-elements: ");
    for (int i = parser.optind; i < argc; ++i) std::fprintf(out, "%s ", argv[i]);
    std::fprintf(out, "\n");
  }
  print_summary(*line, out);
  return ParseOutcome::Run;
}
