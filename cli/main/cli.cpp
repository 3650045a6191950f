#include "main/cli.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "action/action.h"
#include "action/gateway_pin.h"
#include "main/console.h"
#include "main/options.h"
#include "net/net.h"
#include "platform/platform.h"
#include "util/events.h"

namespace {

// The name diagnostics start with: the last component of argv[0].
std::string program_name(int argc, char** argv) {
  if (argc < 1 || !argv[0] || !*argv[0]) return "varnu-cli";
  const char* name = argv[0];
  for (const char* p = argv[0]; *p; ++p) {
    if (*p == '/' || *p == platform::path_separator()) name = p + 1;
  }
  return *name ? name : "varnu-cli";
}

const char* text(const std::optional<std::string>& field) { return field ? field->c_str() : nullptr; }

template <typename T>
const std::vector<T>* list(const std::optional<std::vector<T>>& field) {
  return field ? &*field : nullptr;
}

// Exit status of an action's result: 0 success, 2 usage error, 1 any failure.
int exit_status(int result) { return result == 0 || result == 2 ? result : 1; }

// One row per action: its name and how the command line goes into it. The
// actions that follow diff(1)'s convention give their result as it is.
struct ActionRow {
  const char* name;
  int (*run)(const CommandLine& line, Gateway& gateway, const Reporter& reporter);
  bool writes = false;  // it writes to the gateway: --gateway-pin is checked first
};

const ActionRow kActions[] = {
    {"get_backup",
     [](const CommandLine& line, Gateway& gateway, const Reporter& reporter) {
       return exit_status(get_backup(gateway, reporter, text(line.ip), text(line.backupfileout),
                                     text(line.backupfileouttype), list(line.backupconfig)));
     }},
    {"put_backup",
     [](const CommandLine& line, Gateway& gateway, const Reporter& reporter) {
       return exit_status(
           put_backup(gateway, reporter, text(line.ip), text(line.backupfilein), line.plan, line.json));
     },
     true},
    {"setup_channel",
     [](const CommandLine& line, Gateway& gateway, const Reporter& reporter) {
       return exit_status(setup_channel(gateway, reporter, text(line.ip), list(line.channel),
                                        list(line.channelcsvfile), list(line.channelgroupscsvfile),
                                        list(line.channelinputscsvfile)));
     },
     true},
    {"push_firmware",
     [](const CommandLine& line, Gateway& gateway, const Reporter& reporter) {
       return exit_status(push_firmware(gateway, reporter, text(line.ip), text(line.firmwarefile), line.verify));
     },
     true},
    {"get_status",
     [](const CommandLine& line, Gateway& gateway, const Reporter& reporter) {
       return exit_status(get_status(gateway, reporter, text(line.ip), line.json));
     }},
    {"show_backup",
     [](const CommandLine& line, Gateway&, const Reporter& reporter) {
       return show_backup(reporter, text(line.backupfilein), line.json);
     }},
    {"diff_backup",
     [](const CommandLine& line, Gateway&, const Reporter& reporter) {
       return diff_backup(reporter, text(line.backupfilein), text(line.with), line.json);
     }},
    {"export_channel",
     [](const CommandLine& line, Gateway& gateway, const Reporter& reporter) {
       return export_channel(gateway, reporter, text(line.ip), text(line.backupfilein), list(line.channel),
                             list(line.channelcsvfile), list(line.channelgroupscsvfile),
                             list(line.channelinputscsvfile));
     }},
};

// Runs the action the command line names; no action is a success, an unknown one a usage error.
int dispatch(const CommandLine& line, const Reporter& reporter, const char* program) {
  if (!line.action) return 0;
  event_start(reporter, line.action->c_str(), text(line.ip));
  for (const ActionRow& row : kActions) {
    if (*line.action != row.name) continue;
    CurlGateway gateway(TransferSettings{line.verbose, reporter, HttpLimits{}, line.tftp_blksize});
    const bool checked = row.writes && line.gateway_pin && line.ip;
    if (checked && !is_pinned_gateway(gateway, reporter, line.ip->c_str(), *line.gateway_pin)) return 1;
    return row.run(line, gateway, reporter);
  }
  report_error(reporter, "%s: unknown action \"%s\"\n", program, line.action->c_str());
  return 2;
}

// The run with its events: the start line, the action's own, the summary.
int dispatch_with_events(const CommandLine& line, Reporter reporter, const char* program) {
  if (!line.events_fd || !line.action) return dispatch(line, reporter, program);
  EventLog log;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(platform::open_descriptor_for_writing(*line.events_fd),
                                                          std::fclose);
  if (!stream) {
    report_error(reporter, "%s: --events %d: the descriptor is not open for writing\n", program, *line.events_fd);
    return 2;
  }
  // A window that stops reading its events must not cut a restore short.
  platform::ignore_broken_pipes();
  log.file = stream.get();
  reporter.events = &log;
  const int status = dispatch(line, reporter, program);
  event_summary(reporter, status);
  return status;
}

}  // namespace

int run_cli(int argc, char** argv) {
  prepare_console();
  platform::end_run_on_interrupt("varnu-cli");
  // With --json standard output holds the action's document alone.
  const bool json = asks_for_json(argc, argv);
  const Reporter reporter{json ? stderr : stdout, stderr, nullptr, stdout};
  report(reporter, "varnu-cli\n");
  curl_global_init(CURL_GLOBAL_ALL);
  const std::string program = program_name(argc, argv);
  ParseOutcome outcome;
  int status = 0;
  {
    CommandLine line;
    outcome = parse_command_line(argc, argv, program.c_str(), &line, reporter);
    if (outcome == ParseOutcome::Run) status = dispatch_with_events(line, reporter, program.c_str());
    if (outcome == ParseOutcome::UsageError) status = 2;
  }
  curl_global_cleanup();
  if (outcome == ParseOutcome::Finished) return 0;
  if (outcome == ParseOutcome::OutOfMemory) return 1;
  if (outcome == ParseOutcome::UsageError) return 2;
  pause_before_exit();
  return status;
}
