// The command line of varnu-cli: its record and the parse that fills it,
// echoing every option it meets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "action/gateway_pin.h"
#include "net/net.h"
#include "util/reporter.h"

// Owned by the entry and lent to the action. Absent fields were not given;
// a later occurrence of an option replaces the earlier value.
struct CommandLine {
  std::optional<std::string> action, ip, backupfileout, backupfileouttype, backupfilein, firmwarefile, with;
  // Channel numbers up to, not including, the first 0 (a 0 ends the list for every reader).
  std::optional<std::vector<int32_t>> channel;
  std::optional<std::vector<std::string>> channelcsvfile, channelgroupscsvfile, channelinputscsvfile, backupconfig;
  bool verbose = false;  // --verbose: libcurl's trace on every transfer
  bool json = false;     // --json: show_backup and diff_backup write JSON
  long tftp_blksize = TFTP_BLKSIZE_DEFAULT;  // --tftp-blksize: asked for on TFTP uploads
  std::optional<int> events_fd;  // --events: descriptor that receives the run's events
  bool plan = false;             // --plan: put_backup tells what it would do and writes nothing
  bool verify = false;           // --verify: push_firmware waits for the new version
  std::optional<GatewayPin> gateway_pin;  // --gateway-pin: who must answer before anything is written
};

enum class ParseOutcome {
  Run,          // go on with the action
  Finished,     // --help or --version was answered: exit 0 at once
  OutOfMemory,  // reported: exit 1 at once
  UsageError,   // a value that cannot be used (reported): exit 2, nothing fetched
};

// Parses argv (reordering it: non-options move behind the options), printing
// the echo lines, the non-option line and the summary lines on the reporter's
// standard output, and the diagnostics, prefixed "program: ", on its standard
// error.
ParseOutcome parse_command_line(int argc, char** argv, const char* program, CommandLine* line,
                                const Reporter& reporter);

// True when the command line holds --json (or a prefix of it) among its
// options, found before anything is printed: the echo lines then go to
// standard error.
bool asks_for_json(int argc, char** argv);

// A JSON-valued list option: every string in the value, in order, up to the
// end or the first array end; absent when the value is not JSON up to there.
std::optional<std::vector<std::string>> read_text_list(const char* value);
// The channel option: strings read as decimal integers, numbers truncated
// toward zero (both saturated to 32 bits), up to the first 0; absent as above.
std::optional<std::vector<int32_t>> read_channel_list(const char* value);
