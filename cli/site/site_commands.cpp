// The subcommands that read or change the site file itself: no gateway is asked.
#include <algorithm>
#include <memory>

#include "platform/platform.h"
#include "site/changes.h"
#include "site/commands.h"
#include "site/history.h"
#include "site/run_state.h"
#include "site/site_file.h"
#include "util/json_writer.h"
#include "util/text.h"

namespace {

void json_text_or_null(JsonWriter& json, const char* key, const std::string& text) {
  json_key(json, key);
  if (text.empty()) json_null(json);
  else json_string(json, text);
}

void json_time_or_null(JsonWriter& json, const char* key, int64_t seconds) {
  json_text_or_null(json, key, seconds ? time_words(seconds) : "");
}

// The firmware of the gateway's latest version in the history, for state
// files written before backups recorded it.
std::string firmware_in_history(const History* history, const std::string& gateway) {
  if (!history) return "";
  std::string problem;
  std::vector<FetchedArchive> archives = history->archives(gateway, "", &problem);
  if (archives.empty()) return "";
  archives.resize(1);  // every archive carries the same status.txt
  const BackupSet set = backup_set_of(archives, gateway);
  return set.gateway.firmware_version.value_or("");
}

std::string list_document(const SiteFile& site) {
  const RunState state = read_run_state(state_file_path(site.path));
  const std::string history_path = history_folder(site.path);
  std::string problem;
  const std::unique_ptr<History> history =
      platform::is_folder(history_path.c_str()) ? History::open(history_path, false, &problem) : nullptr;
  const SiteHeading heading = site_heading(site);

  JsonWriter json;
  json_begin_object(json);
  json_key(json, "site");
  json_begin_object(json);
  json_key(json, "path");
  json_string(json, platform::canonical_path(site.path.c_str()).value_or(site.path));
  json_key(json, "name");
  json_string(json, heading.title);
  json_text_or_null(json, "installer", heading.installer);
  json_key(json, "notes");
  json_begin_array(json);
  for (const std::string& note : heading.notes) json_string(json, note);
  json_end_array(json);
  json_key(json, "history");
  json_bool(json, history != nullptr);
  json_end_object(json);

  json_key(json, "gateways");
  json_begin_array(json);
  for (const SiteGateway& g : site.gateways) {
    const auto found = state.find(g.name);
    const GatewayRecord record = found == state.end() ? GatewayRecord{} : found->second;
    json_begin_object(json);
    for (const auto& [key, value] :
         {std::pair<const char*, const std::string&>{"name", g.name}, {"address", g.address}, {"model", g.model},
          {"serial", g.serial}, {"mac", g.mac}, {"notes", g.notes}}) {
      json_key(json, key);
      json_string(json, value);
    }
    json_key(json, "pinned");
    json_bool(json, !g.model.empty() || !g.serial.empty() || !g.mac.empty());
    json_time_or_null(json, "last_backup", record.last_success);
    json_text_or_null(json, "firmware",
                      record.firmware.empty() ? firmware_in_history(history.get(), g.name) : record.firmware);
    json_key(json, "changed");
    json_string(json, record.changed);
    json_key(json, "state");
    json_string(json, record.state);
    json_time_or_null(json, "failing_since", record.failing_since);
    json_key(json, "detail");
    json_string(json, record.detail);
    json_end_object(json);
  }
  json_end_array(json);
  json_end_object(json);
  return json.out;
}

std::string words_or_dash(const std::string& text) { return text.empty() ? "-" : text; }

// The row named, or nullptr (reported).
SiteGateway* named_row(const Reporter& reporter, SiteFile& site, const std::string& name, const char* command) {
  for (SiteGateway& g : site.gateways)
    if (g.name == name) return &g;
  report_error(reporter, "varnu-site %s: no gateway '%s' in %s\n", command, escape_bytes(name).c_str(),
               site.path.c_str());
  return nullptr;
}

// Takes the site lock and reads the site file under it. 0 to go on, else the exit status.
int open_for_change(const Reporter& reporter, const std::string& path, const SiteLock& lock, SiteFile* site) {
  if (!lock.held(reporter)) return 1;
  return load_site(reporter, path, site) ? 0 : 2;
}

}  // namespace

int command_list(const Reporter& reporter, const SiteCommand& command) {
  SiteFile site;
  const std::vector<std::string> problems = read_site_file(command.arguments[0], &site);
  if (!problems.empty()) {
    if (command.has("--json")) {
      JsonWriter json;
      json_begin_object(json);
      json_key(json, "errors");
      json_begin_array(json);
      for (const std::string& problem : problems) json_string(json, problem);
      json_end_array(json);
      json_end_object(json);
      report(reporter, "%s\n", json.out.c_str());
    }
    for (const std::string& problem : problems) report_error(reporter, "%s\n", problem.c_str());
    return 2;
  }
  if (command.has("--json")) {
    report(reporter, "%s\n", list_document(site).c_str());
    return 0;
  }
  const RunState state = read_run_state(state_file_path(site.path));
  std::vector<std::vector<std::string>> rows;
  for (const SiteGateway& g : site.gateways) {
    const auto found = state.find(g.name);
    const GatewayRecord record = found == state.end() ? GatewayRecord{} : found->second;
    rows.push_back({g.name, g.address, escape_bytes(words_or_dash(g.serial)),
                    record.last_success ? time_words(record.last_success) : "never",
                    found == state.end() ? "-" : record.state + (record.detail.empty() ? "" : ": " + record.detail),
                    escape_bytes(words_or_dash(record.changed))});
  }
  report(reporter, "%s", render_table({"name", "address", "pinned serial", "last backup", "last run", "changed"}, rows)
                             .c_str());
  return 0;
}

int command_create(const Reporter& reporter, const SiteCommand& command) {
  const std::string& path = command.arguments[0];
  const std::string title = command.value("--title");
  if (title.find_first_of("\r\n") != std::string::npos ||
      std::any_of(title.begin(), title.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
    report_error(reporter, "varnu-site create: the title must be one line of text without control characters\n");
    return 2;
  }
  const SiteLock lock(path);
  if (!lock.held(reporter)) return 1;
  if (platform::path_kind(path.c_str()) != platform::PathKind::Missing) {
    report_error(reporter, "varnu-site create: %s exists already; nothing written\n", path.c_str());
    return 2;
  }
  SiteFile site;
  site.path = path;
  if (command.has("--title")) site.lines.push_back("# site: " + title);
  site.lines.push_back("name,address,model,serial,mac,notes");
  if (!rewrite_site_file(reporter, site, "create")) return 1;
  report(reporter, "%s created\n", path.c_str());
  return 0;
}

int command_add(const Reporter& reporter, const SiteCommand& command) {
  SiteFile site;
  const SiteLock lock(command.arguments[0]);
  if (const int stop = open_for_change(reporter, command.arguments[0], lock, &site)) return stop;
  SiteGateway g;
  g.name = command.arguments[1];
  g.address = command.arguments[2];
  g.notes = command.value("--notes");
  g.line = site.lines.size();
  site.lines.push_back("");
  site.gateways.push_back(g);
  if (!rewrite_site_file(reporter, site, "add")) return 2;
  report(reporter, "%s added\n", g.name.c_str());
  return 0;
}

int command_edit(const Reporter& reporter, const SiteCommand& command) {
  SiteFile site;
  const SiteLock lock(command.arguments[0]);
  if (const int stop = open_for_change(reporter, command.arguments[0], lock, &site)) return stop;
  SiteGateway* g = named_row(reporter, site, command.arguments[1], "edit");
  if (!g) return 2;
  const std::string new_name = command.value("--name", g->name);
  if (new_name != g->name) {
    // The history and the state file know a gateway by its name: a rename would cut it off from its versions.
    std::string problem;
    const std::unique_ptr<History> history = History::open(history_folder(site.path), false, &problem);
    if (history && !history->log(g->name).empty()) {
      report_error(reporter,
                   "varnu-site edit: '%s' cannot be renamed: its versions in the history are kept under that name. "
                   "Nothing changed.\n",
                   g->name.c_str());
      return 2;
    }
    g->name = new_name;
  }
  g->address = command.value("--address", g->address);
  g->notes = command.value("--notes", g->notes);
  if (command.has("--unpin")) g->model = g->serial = g->mac = "";
  if (!rewrite_site_file(reporter, site, "edit")) return 2;
  report(reporter, "%s changed\n", g->name.c_str());
  return 0;
}

int command_remove(const Reporter& reporter, const SiteCommand& command) {
  SiteFile site;
  const SiteLock lock(command.arguments[0]);
  if (const int stop = open_for_change(reporter, command.arguments[0], lock, &site)) return stop;
  const SiteGateway* g = named_row(reporter, site, command.arguments[1], "remove");
  if (!g) return 2;
  const std::size_t line = g->line;
  site.gateways.erase(site.gateways.begin() + (g - site.gateways.data()));
  site.lines.erase(site.lines.begin() + static_cast<std::ptrdiff_t>(line));
  for (SiteGateway& other : site.gateways)
    if (other.line > line) --other.line;
  if (!rewrite_site_file(reporter, site, "remove")) return 1;
  report(reporter, "%s removed; its versions stay in the history\n", command.arguments[1].c_str());
  return 0;
}
