// The subcommands that read the site's history, and restore from it.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>

#include "action/action.h"
#include "backup/backup.h"
#include "platform/platform.h"
#include "site/changes.h"
#include "site/commands.h"
#include "site/gateway_run.h"
#include "site/history.h"
#include "site/restore.h"
#include "site/run_state.h"
#include "site/site_file.h"
#include "util/events.h"
#include "util/json_writer.h"
#include "util/text.h"

namespace {

std::string short_id(const std::string& id) { return id.substr(0, 10); }

const SiteGateway* find_gateway(const Reporter& reporter, const SiteFile& site, const std::string& name) {
  for (const SiteGateway& g : site.gateways)
    if (g.name == name) return &g;
  report_error(reporter, "varnu-site: no gateway '%s' in %s\n", escape_bytes(name).c_str(), site.path.c_str());
  return nullptr;
}

std::unique_ptr<History> open_history(const Reporter& reporter, const SiteFile& site) {
  std::string problem;
  std::unique_ptr<History> history = History::open(history_folder(site.path), false, &problem);
  if (!history) report_error(reporter, "varnu-site: %s\n", problem.c_str());
  return history;
}

}  // namespace

int command_log(const Reporter& reporter, const SiteCommand& command) {
  SiteFile site;
  if (!load_site(reporter, command.arguments[0], &site)) return 2;
  const std::string name = command.arguments.size() > 1 ? command.arguments[1] : "";
  if (!name.empty() && !find_gateway(reporter, site, name)) return 2;
  // A site not backed up yet has no history: no versions.
  const bool none_yet = !platform::is_folder(history_folder(site.path).c_str());
  std::unique_ptr<History> history = none_yet ? nullptr : open_history(reporter, site);
  if (!history && !none_yet) return 1;
  JsonWriter json;
  json_begin_object(json);
  json_key(json, "versions");
  json_begin_array(json);
  for (const HistoryEntry& entry : history ? history->log(name) : std::vector<HistoryEntry>{}) {
    std::istringstream lines(entry.message);
    std::string summary;
    std::getline(lines, summary);
    std::vector<std::string> changes;
    for (std::string line; std::getline(lines, line);) {
      // For one gateway: only its own lines.
      if (line.empty() || (!name.empty() && line.compare(0, name.size() + 1, name + ":") != 0)) continue;
      changes.push_back(line);
    }
    if (!command.has("--json")) {
      report(reporter, "%s  %s\n    %s\n", short_id(entry.id).c_str(), time_words(entry.time).c_str(), summary.c_str());
      for (const std::string& line : changes) report(reporter, "    %s\n", line.c_str());
      continue;
    }
    json_begin_object(json);
    for (const auto& [key, value] : {std::pair<const char*, std::string>{"version", entry.id},
                                     {"short", short_id(entry.id)}, {"time", time_words(entry.time)},
                                     {"summary", summary}}) {
      json_key(json, key);
      json_string(json, value);
    }
    json_key(json, "changes");
    json_begin_array(json);
    for (const std::string& line : changes) json_string(json, line);
    json_end_array(json);
    json_end_object(json);
  }
  json_end_array(json);
  json_end_object(json);
  if (command.has("--json")) report(reporter, "%s\n", json.out.c_str());
  return 0;
}

int command_diff(const Reporter& reporter, const SiteCommand& command) {
  SiteFile site;
  if (!load_site(reporter, command.arguments[0], &site)) return 2;
  const std::string& name = command.arguments[1];
  if (!find_gateway(reporter, site, name)) return 2;
  std::unique_ptr<History> history = open_history(reporter, site);
  if (!history) return 2;
  const std::string to = history->resolve(command.arguments.size() > 3 ? command.arguments[3] : "HEAD");
  const std::string from =
      command.arguments.size() > 2 ? history->resolve(command.arguments[2]) : history->previous_version(name);
  if (to.empty() || (command.arguments.size() > 2 && from.empty())) {
    report_error(reporter, "varnu-site diff: no such version in the history\n");
    return 2;
  }
  std::string problem;
  const std::vector<FetchedArchive> before = from.empty() ? std::vector<FetchedArchive>{}
                                                          : history->archives(name, from, &problem);
  const std::vector<FetchedArchive> after = history->archives(name, to, &problem);
  if (after.empty() && before.empty()) {
    report_error(reporter, "varnu-site diff: '%s' has no backup in these versions\n", name.c_str());
    return 2;
  }
  const std::string old_source = name + "@" + (from.empty() ? "none" : short_id(from));
  const BackupDiff diff = diff_backups(backup_set_of(before, old_source), backup_set_of(after, name + "@" + short_id(to)));
  if (command.has("--json"))
    report(reporter, "%s\n", render_diff_json(diff).c_str());
  else
    report(reporter, "%s: %s -> %s\n%s", name.c_str(), from.empty() ? "none" : short_id(from).c_str(),
           short_id(to).c_str(), render_diff_text(diff).c_str());
  return diff.different ? 1 : 0;
}

int command_show(const Reporter& reporter, const SiteCommand& command) {
  BackupSet set = read_backup(command.arguments[0]);
  // git hands the driver a temporary file whose folder differs every time; the name is what counts.
  set.source = set.source.substr(set.source.find_last_of('/') + 1);
  report(reporter, "%s", render_show_text(set).c_str());
  return set.problem.empty() ? 0 : 1;
}

int command_restore(const Reporter& given, const SiteCommand& command) {
  const bool plan = command.has("--plan"), json = plan && command.has("--json");
  // With --json standard output holds the plan's document alone.
  Reporter reporter = given;
  if (json) reporter.out = reporter.err;
  SiteFile site;
  if (!load_site(reporter, command.arguments[0], &site)) return 2;
  // A plan writes nothing: it need not wait for a run that holds the site.
  std::optional<SiteLock> lock;
  if (!plan) {
    lock.emplace(site.path);
    if (!lock->held(reporter)) return 1;
    // Read again under the lock: another run may have rewritten it meanwhile.
    if (!load_site(reporter, command.arguments[0], &site)) return 2;
  }
  const SiteGateway* target = find_gateway(reporter, site, command.arguments[1]);
  if (!target) return 2;
  std::unique_ptr<History> history = open_history(reporter, site);
  if (!history) return 1;
  const std::string version = history->resolve(command.value("--from", "HEAD"));
  std::string problem;
  const std::vector<FetchedArchive> archives =
      version.empty() ? std::vector<FetchedArchive>{} : history->archives(target->name, version, &problem);
  if (archives.empty()) {
    report_error(reporter, "varnu-site restore: no backup of '%s' in %s\n", target->name.c_str(),
                 version.empty() ? ("version '" + command.value("--from") + "'").c_str() : short_id(version).c_str());
    return 1;
  }
  RunLimits limits;
  const Probe probe = probe_gateway(*target, limits);
  if (probe.reach != Reachability::Answered) {
    report_error(reporter, "varnu-site restore: %s does not answer: %s\n", target->name.c_str(), probe.problem.c_str());
    return 1;
  }
  const bool replace = command.has("--replace");
  if (plan) {
    const bool pinned = !target->serial.empty() || !target->mac.empty() || !target->model.empty();
    const std::string identity = !probe.mismatch.empty() ? "other gateway at this address: " + probe.mismatch
                                 : pinned                ? "ok"
                                                         : "not pinned";
    report(reporter, "plan\tidentity: %s\n", identity.c_str());
    const int planned = restore_archives(reporter, target->address, archives, {true, json, identity.c_str()});
    return planned != 0 || (!probe.mismatch.empty() && !replace) ? 1 : 0;
  }
  if (!probe.mismatch.empty() && !replace) {
    const std::string refusal = "other gateway at this address: " + target->name + " " + probe.mismatch +
                                "; nothing restored";
    report_error(reporter, "varnu-site restore: %s (--replace restores onto replacement hardware)\n", refusal.c_str());
    event_refusal(reporter, refusal);
    return 1;
  }
  report(reporter, "restoring %s from %s onto %s\n", target->name.c_str(), short_id(version).c_str(),
         target->address.c_str());
  if (restore_archives(reporter, target->address, archives) != 0) {
    report_error(reporter, "varnu-site restore: %s was not restored completely\n", target->name.c_str());
    return 1;
  }
  if (probe.mismatch.empty()) {
    report(reporter, "%s restored\n", target->name.c_str());
    return 0;
  }
  // Replacement hardware: the pin follows the new gateway, and the history says so.
  SiteGateway& pinned = site.gateways[static_cast<std::size_t>(target - site.gateways.data())];
  const std::string message = "replace: " + pinned.name + "\n\n" + pinned.name + ": replaced by serial '" +
                              escape_bytes(probe.identity.serial) + "', MAC '" + escape_bytes(probe.identity.mac) +
                              "' (was serial '" + pinned.serial + "', MAC '" + pinned.mac + "'); restored from " +
                              short_id(version) + "\n";
  pinned.model = probe.identity.model;
  pinned.serial = probe.identity.serial;
  pinned.mac = probe.identity.mac;
  if (!rewrite_site_file(reporter, site, "restore")) {
    report_error(reporter, "varnu-site restore: restored, but the new pin could not be written to %s\n",
                 site.path.c_str());
    return 1;
  }
  if (history->commit(message, true, &problem).empty()) {
    report_error(reporter, "varnu-site restore: restored and pinned, but the history could not record it: %s\n",
                 problem.c_str());
    return 1;
  }
  report(reporter, "%s restored onto the replacement gateway; pin updated\n", target->name.c_str());
  return 0;
}
