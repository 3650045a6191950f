#include "site/commands.h"

#include <curl/curl.h>
#include <git2.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "site/history.h"
#include "site/site_file.h"
#include "util/events.h"
#include "util/text.h"
#include "varnkit_config.h"

namespace {

struct SubcommandEntry {
  const char* name;
  const char* events_action;  // the action its --events start with; nullptr: it takes no --events
  int (*run)(const Reporter&, const SiteCommand&);
  std::size_t min_arguments, max_arguments;  // max 0: any number
  std::vector<std::string> value_options, flags;
  const char* help;
};

const char* const USAGE =
    "usage: varnu-site COMMAND SITE [ARGUMENTS] [OPTIONS]\n"
    "       varnu-site COMMAND --help\n"
    "       varnu-site --help | --version\n"
    "\n"
    "A building's gateways, listed one per row in the site file SITE\n"
    "(CSV: name,address,model,serial,mac,notes; '#' starts a comment line).\n"
    "\n"
    "  create SITE [--title TEXT]      a new site file without gateways\n"
    "  add SITE NAME ADDRESS           add a gateway's row (--notes TEXT)\n"
    "  edit SITE NAME [OPTIONS]        change its row: --name, --address, --notes, --unpin\n"
    "  remove SITE NAME                remove its row (its versions stay in the history)\n"
    "  list SITE                       the gateways with their pins and last backups, asking none\n"
    "  status SITE                     who answers at each address, and how the last backups went\n"
    "  pin SITE [NAME...]              record model, serial and MAC as the gateways report them now\n"
    "  backup SITE [NAME...]           back up the gateways into the site's history\n"
    "  log SITE [NAME]                 the history of the site or of one gateway\n"
    "  diff SITE NAME [FROM [TO]]      decoded differences between two versions of a gateway\n"
    "  restore SITE NAME [--plan]      put a version from the history back onto the gateway\n"
    "  report SITE [NAME...] --html F  the handover document of the site's gateways, as HTML\n"
    "  show FILE                       a configuration archive as text (the history's diff driver)\n"
    "\n"
    "Exit status: 0 success, 1 a gateway or the history failed, 2 usage or a bad site file.\n";

const SubcommandEntry COMMANDS[] = {
    {"list", nullptr, command_list, 1, 1, {}, {"--json"},
     "usage: varnu-site list SITE [--json]\n"
     "The gateways of the site file with their pins and what the last backups said\n"
     "(last success, last state, what the last successful backup changed), without\n"
     "asking any gateway. --json: one JSON document {\"site\": {...}, \"gateways\": [...]};\n"
     "a site file with errors gives {\"errors\": [...]} and exit status 2.\n"},
    {"create", nullptr, command_create, 1, 1, {"--title"}, {},
     "usage: varnu-site create SITE [--title TEXT]\n"
     "Writes a new site file: the line '# site: TEXT' when a title is given, then the\n"
     "header row. Refused when SITE exists. Exit status 0 when written, 2 otherwise.\n"},
    {"add", nullptr, command_add, 3, 3, {"--notes"}, {},
     "usage: varnu-site add SITE NAME ADDRESS [--notes TEXT]\n"
     "Adds a gateway row at the end of the site file, not pinned. The name must be\n"
     "new; a name whose versions are still in the history takes them up again.\n"
     "The file is replaced in one step; every other line stays as it is.\n"
     "Exit status 0 when added, 2 when a value is not usable (nothing changed).\n"},
    {"edit", nullptr, command_edit, 2, 2, {"--name", "--address", "--notes"}, {"--unpin"},
     "usage: varnu-site edit SITE NAME [--name NEW] [--address ADDRESS] [--notes TEXT] [--unpin]\n"
     "Changes a gateway's row; --unpin clears its model, serial and MAC. A gateway\n"
     "with versions in the history keeps its name (they are kept under it): remove\n"
     "it and add it anew to start a history under another name.\n"
     "Exit status 0 when changed, 2 when a value is not usable (nothing changed).\n"},
    {"remove", nullptr, command_remove, 2, 2, {}, {},
     "usage: varnu-site remove SITE NAME\n"
     "Removes the gateway's row from the site file; its versions stay in the history.\n"},
    {"status", nullptr, command_status, 1, 1, {"--jobs", "--time-limit"}, {"--json"},
     "usage: varnu-site status SITE [--json] [--jobs N] [--time-limit SECONDS]\n"
     "Asks every gateway of the site at once for its status report and shows name,\n"
     "address, model, firmware, serial and state: ok, no answer, other gateway at this\n"
     "address (serial, MAC or model differ from the pin), or failing since the first of\n"
     "the backups that have failed since the last success. --json: one JSON array.\n"
     "Exit status 0 when every gateway is ok, 1 otherwise.\n"},
    {"pin", nullptr, command_pin, 1, 0, {"--jobs", "--time-limit"}, {},
     "usage: varnu-site pin SITE [NAME...] [--jobs N] [--time-limit SECONDS]\n"
     "Writes the model, serial and MAC each named gateway (all without names) reports\n"
     "now into its row of the site file. The file is replaced in one step; comment\n"
     "lines, order and other rows stay as they are. Gateways that do not answer keep\n"
     "their pin. Exit status 0 when every gateway was pinned, 1 otherwise.\n"},
    {"backup", "site_backup", command_backup, 1, 0,
     {"--jobs", "--time-limit", "--on-change", "--on-failure", "--events"}, {},
     "usage: varnu-site backup SITE [NAME...] [--jobs N] [--time-limit SECONDS]\n"
     "                       [--on-change COMMAND] [--on-failure COMMAND] [--events FD]\n"
     "Backs up every gateway of the site (or those named), N at a time (default\n"
     "64), each within its own time limit (default 60 s). A gateway whose serial,\n"
     "MAC or model differs from its pin is not backed up. The configurations of a\n"
     "gateway go into the history only when their decoded content changed; a run\n"
     "that changed nothing makes no commit. The state file beside the site file keeps per gateway the\n"
     "last success and since when it fails. The hooks run through the shell once\n"
     "per gateway whose state changed (--on-failure: changed into a failure), with\n"
     "VARNU_SITE, VARNU_GATEWAY, VARNU_ADDRESS, VARNU_STATE, VARNU_PREVIOUS_STATE,\n"
     "VARNU_DETAIL and VARNU_SUMMARY in the environment.\n"
     "--events FD: the run's events as JSON lines on that open descriptor, a step\n"
     "of kind 'gateway' as each gateway ends and a notice per gateway changed.\n"
     "Exit status 0 when every gateway was backed up, 1 when any was not.\n"},
    {"log", nullptr, command_log, 1, 2, {}, {"--json"},
     "usage: varnu-site log SITE [NAME] [--json]\n"
     "The versions in the site's history, latest first, with the changes in words;\n"
     "with NAME only those that changed that gateway, and only its changes.\n"
     "--json: {\"versions\": [{\"version\", \"short\", \"time\", \"summary\", \"changes\"}]}.\n"},
    {"diff", nullptr, command_diff, 2, 4, {}, {"--json"},
     "usage: varnu-site diff SITE NAME [FROM [TO]] [--json]\n"
     "The decoded differences of a gateway's configurations between two versions\n"
     "(commit ids as 'log' shows them, or any name git takes). Without TO: the\n"
     "latest version; without FROM: the one before the gateway's latest change.\n"
     "Exit status as diff(1): 0 same, 1 different, 2 trouble.\n"},
    {"restore", "put_backup", command_restore, 2, 2, {"--from", "--events"},
     {"--replace", "--plan", "--json"},
     "usage: varnu-site restore SITE NAME [--from VERSION] [--replace] [--events FD]\n"
     "       varnu-site restore SITE NAME [--from VERSION] --plan [--json]\n"
     "Restores the gateway's configurations from the history (the latest version, or\n"
     "VERSION) onto the gateway at its address, converting channel records to what\n"
     "its firmware needs. Refused when the gateway there is not the pinned one; with\n"
     "--replace a new gateway (replacement hardware) is accepted: after the restore\n"
     "its model, serial and MAC become the pin and the history records the swap.\n"
     "--plan: writes nothing; tells per configuration what a restore would do and\n"
     "who answers (identity: ok, not pinned, or other gateway at this address);\n"
     "--json: as one JSON document, the plan of varnu-cli's put_backup --plan with\n"
     "\"identity\". --events FD: put_backup's events on that open descriptor.\n"
     "Exit status 0 when every configuration was restored (or would be), 1 otherwise\n"
     "(with --plan also when another gateway answers).\n"},
    {"report", nullptr, command_report, 0, 0, {"--html", "--backup", "--title"}, {},
     "usage: varnu-site report SITE [NAME...] --html FILE [--title TEXT]\n"
     "       varnu-site report --backup BACKUP --html FILE [--title TEXT]\n"
     "Writes the handover document for the client as one HTML file (FILE '-':\n"
     "standard output), ready to print on A4: a cover page with the site's name,\n"
     "the date, the installer and notes, then from a new page each gateway (all, or\n"
     "those named) with address, model, serial, MAC, firmware and per channel the gear\n"
     "(address, name, device type, groups, levels), group names and input devices, as\n"
     "the latest version in the history holds them. A gateway without a backup gets a\n"
     "page saying so. The site file's comment lines '# site: NAME', '# installer: TEXT'\n"
     "and '# note: TEXT' fill the cover (default name: the file's); --title overrides\n"
     "the name. --backup: one gateway from a backup archive, configuration archive or\n"
     "backup folder instead of a site.\n"
     "Exit status 0 when written, 1 when not, 2 usage or a bad site file.\n"},
    {"show", nullptr, command_show, 1, 1, {}, {},
     "usage: varnu-site show FILE\n"
     "A configuration archive, backup archive or folder as decoded text. The history\n"
     "names it as the textconv of its diff driver, so 'git log -p' shows text.\n"},
};

const SubcommandEntry* find_command(const std::string& name) {
  for (const SubcommandEntry& entry : COMMANDS)
    if (name == entry.name) return &entry;
  return nullptr;
}

bool listed(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// 0 to run, 1 after --help, 2 on a usage error (reported).
int parse(const Reporter& reporter, const SubcommandEntry& entry, int argc, char** argv, SiteCommand* command) {
  bool options_end = false;
  for (int i = 2; i < argc; ++i) {
    std::string word = argv[i];
    if (options_end || word.size() < 2 || word.compare(0, 2, "--") != 0) {
      command->arguments.push_back(word);
      continue;
    }
    if (word == "--") {
      options_end = true;
      continue;
    }
    if (word == "--help") {
      report(reporter, "%s", entry.help);
      return 1;
    }
    std::string value;
    const std::size_t equals = word.find('=');
    if (equals != std::string::npos) {
      value = word.substr(equals + 1);
      word.resize(equals);
    }
    if (listed(entry.flags, word) && equals == std::string::npos) {
      command->options[word] = "";
    } else if (listed(entry.value_options, word)) {
      if (equals == std::string::npos) {
        if (i + 1 >= argc) {
          report_error(reporter, "varnu-site %s: %s needs a value\n", entry.name, word.c_str());
          return 2;
        }
        value = argv[++i];
      }
      command->options[word] = value;
    } else {
      report_error(reporter, "varnu-site %s: unknown option %s (see varnu-site %s --help)\n", entry.name, word.c_str(),
                   entry.name);
      return 2;
    }
  }
  const std::size_t count = command->arguments.size();
  if (count < entry.min_arguments || (entry.max_arguments && count > entry.max_arguments)) {
    report_error(reporter, "%s", entry.help);
    return 2;
  }
  return 0;
}

std::size_t display_width(const std::string& text) {
  // Characters, not bytes: UTF-8 continuation bytes take no column.
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Runs the subcommand; with --events, between the start and the summary
// on that descriptor.
int run_with_events(Reporter reporter, const SubcommandEntry& entry, const SiteCommand& command) {
  if (!command.has("--events")) return entry.run(reporter, command);
  const std::string fd_text = command.value("--events");
  char* end = nullptr;
  const long fd = std::strtol(fd_text.c_str(), &end, 10);
  const bool number = !fd_text.empty() && *end == '\0' && fd >= 0 && fd <= INT_MAX;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(
      number ? platform::open_descriptor_for_writing(static_cast<int>(fd)) : nullptr, std::fclose);
  if (!stream) {
    report_error(reporter, "varnu-site %s: --events %s: not a descriptor open for writing\n", entry.name,
                 escape_bytes(fd_text).c_str());
    return 2;
  }
  // A window that stops reading its events must not cut a run short.
  platform::ignore_broken_pipes();
  EventLog log;
  log.file = stream.get();
  reporter.events = &log;
  // A restore's gateway is the site's name for it; a backup has many.
  event_start(reporter, entry.events_action, command.arguments.size() > 1 && std::string(entry.name) == "restore"
                                                  ? command.arguments[1].c_str()
                                                  : nullptr);
  const int status = entry.run(reporter, command);
  event_summary(reporter, status);
  return status;
}

}  // namespace

std::string SiteCommand::value(const std::string& option, const std::string& fallback) const {
  const auto found = options.find(option);
  return found == options.end() ? fallback : found->second;
}

bool load_site(const Reporter& reporter, const std::string& path, SiteFile* site) {
  const std::vector<std::string> problems = read_site_file(path, site);
  for (const std::string& problem : problems) report_error(reporter, "%s\n", problem.c_str());
  if (!problems.empty()) report_error(reporter, "varnu-site: nothing done: the site file has errors\n");
  return problems.empty();
}

SiteLock::SiteLock(const std::string& site_path)
    : path_(site_stem(site_path) + ".lock"),
      handle_(platform::lock_file(path_)) {}

SiteLock::~SiteLock() { platform::unlock_file(handle_); }

bool SiteLock::held(const Reporter& reporter) const {
  if (handle_ == -1)
    report_error(reporter, "varnu-site: another run is using this site (%s is locked); nothing done\n", path_.c_str());
  else if (handle_ < 0)
    report_error(reporter,
                 "varnu-site: the lock file %s cannot be made (is the folder there and writable?); nothing done\n",
                 path_.c_str());
  return handle_ >= 0;
}

bool rewrite_site_file(const Reporter& reporter, const SiteFile& site, const char* command) {
  SiteFile check;
  const std::vector<std::string> problems = parse_site_text(site.path, site_text(site), &check);
  for (const std::string& problem : problems) report_error(reporter, "%s\n", problem.c_str());
  if (!problems.empty()) {
    report_error(reporter, "varnu-site %s: nothing changed; %s is as it was\n", command, site.path.c_str());
    return false;
  }
  if (!write_site_file(site)) {
    report_error(reporter, "varnu-site %s: %s could not be rewritten; it is as it was\n", command, site.path.c_str());
    return false;
  }
  return true;
}

std::string render_table(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths(header.size(), 0);
  auto measure = [&](const std::vector<std::string>& row) {
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) widths[c] = std::max(widths[c], display_width(row[c]));
  };
  measure(header);
  for (const auto& row : rows) measure(row);
  std::string out;
  auto write = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - display_width(row[c]) + 2, ' ');
    }
    out += line + "\n";
  };
  write(header);
  for (const auto& row : rows) write(row);
  return out;
}

int run_site(int argc, char** argv) {
  const Reporter reporter{stdout, stderr};
  if (argc < 2) {
    report_error(reporter, "%s", USAGE);
    return 2;
  }
  const std::string first = argv[1];
  if (first == "--help") {
    report(reporter, "%s", USAGE);
    return 0;
  }
  if (first == "--version") {
    report(reporter, "varnu-site %s\n", VARNKIT_VERSION);
    return 0;
  }
  const SubcommandEntry* entry = find_command(first);
  if (!entry) {
    report_error(reporter, "varnu-site: unknown command '%s'\n%s", first.c_str(), USAGE);
    return 2;
  }
  SiteCommand command;
  const int parsed = parse(reporter, *entry, argc, argv, &command);
  if (parsed != 0) return parsed == 1 ? 0 : 2;
  platform::end_run_on_interrupt("varnu-site");
  curl_global_init(CURL_GLOBAL_ALL);
  git_libgit2_init();
  const int status = run_with_events(reporter, *entry, command);
  git_libgit2_shutdown();
  curl_global_cleanup();
  return status;
}
