// The subcommands that talk to every gateway of a site at once.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "util/events.h"
#include "util/json_writer.h"
#include "site/changes.h"
#include "site/commands.h"
#include "site/gateway_run.h"
#include "site/history.h"
#include "site/run_state.h"
#include "site/site_file.h"
#include "util/text.h"

namespace {

constexpr unsigned DEFAULT_JOBS = 64;
constexpr unsigned MAX_JOBS = 128;  // each job holds a few descriptors: far below the usual 1024
constexpr long DEFAULT_TIME_LIMIT = 60;

bool read_number(const Reporter& reporter, const SiteCommand& command, const char* option, long low, long high,
                 long fallback, long* out) {
  *out = fallback;
  if (!command.has(option)) return true;
  const std::string text = command.value(option);
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < low || value > high) {
    report_error(reporter, "varnu-site: %s takes a number from %ld to %ld, not '%s'\n", option, low, high,
                 escape_bytes(text).c_str());
    return false;
  }
  *out = value;
  return true;
}

// --jobs, --time-limit and the site file; false on a usage error or a bad site file (reported).
bool prepare_run(const Reporter& reporter, const SiteCommand& command, SiteFile* site, unsigned* jobs,
                 RunLimits* limits) {
  long job_count = 0, seconds = 0;
  if (!read_number(reporter, command, "--jobs", 1, MAX_JOBS, DEFAULT_JOBS, &job_count) ||
      !read_number(reporter, command, "--time-limit", 1, 3600, DEFAULT_TIME_LIMIT, &seconds))
    return false;
  *jobs = static_cast<unsigned>(job_count);
  limits->per_gateway = std::chrono::seconds(seconds);
  return load_site(reporter, command.arguments[0], site);
}

int64_t now_seconds() { return static_cast<int64_t>(std::time(nullptr)); }

std::string state_of(const Probe& probe) {
  if (probe.reach != Reachability::Answered) return STATE_NO_ANSWER;
  return probe.mismatch.empty() ? STATE_OK : STATE_OTHER_GATEWAY;
}

}  // namespace

int command_status(const Reporter& reporter, const SiteCommand& command) {
  SiteFile site;
  unsigned jobs = 0;
  RunLimits limits;
  if (!prepare_run(reporter, command, &site, &jobs, &limits)) return 2;
  std::vector<Probe> probes(site.gateways.size());
  run_parallel(probes.size(), jobs, [&](std::size_t i) { probes[i] = probe_gateway(site.gateways[i], limits); });
  const RunState state = read_run_state(state_file_path(site.path));

  bool all_ok = true;
  std::vector<std::vector<std::string>> rows;
  JsonWriter json;
  json_begin_array(json);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    const SiteGateway& g = site.gateways[i];
    const Probe& p = probes[i];
    std::string words = state_of(p);
    const auto record = state.find(g.name);
    const int64_t failing_since = record == state.end() ? 0 : record->second.failing_since;
    // Answering now does not undo backups that failed: the next good one does.
    if (failing_since) words = (words == STATE_OK ? "" : words + ", ") + "failing since " + time_words(failing_since);
    all_ok = all_ok && words == STATE_OK;
    const ReportedIdentity& id = p.identity;
    rows.push_back({g.name, g.address, escape_bytes(id.model), escape_bytes(id.firmware), escape_bytes(id.serial),
                    words + (p.mismatch.empty() ? "" : " (" + p.mismatch + ")")});
    json_begin_object(json);
    for (const auto& [key, value] : {std::pair<const char*, std::string>{"name", g.name}, {"address", g.address}}) {
      json_key(json, key);
      json_string(json, value);
    }
    for (const auto& [key, value] : {std::pair<const char*, std::string>{"model", id.model}, {"firmware", id.firmware},
                                     {"serial", id.serial}, {"mac", id.mac}}) {
      json_key(json, key);
      if (p.reach == Reachability::Answered) json_string(json, value);
      else json_null(json);
    }
    json_key(json, "state");
    json_string(json, state_of(p));
    json_key(json, "detail");
    json_string(json, p.reach == Reachability::Answered ? p.mismatch : p.problem);
    json_key(json, "failing_since");
    if (failing_since) json_string(json, time_words(failing_since));
    else json_null(json);
    json_key(json, "last_success");
    if (record != state.end() && record->second.last_success) json_string(json, time_words(record->second.last_success));
    else json_null(json);
    json_end_object(json);
  }
  json_end_array(json);
  if (command.has("--json"))
    report(reporter, "%s\n", json.out.c_str());
  else
    report(reporter, "%s", render_table({"name", "address", "model", "firmware", "serial", "state"}, rows).c_str());
  return all_ok ? 0 : 1;
}

int command_pin(const Reporter& reporter, const SiteCommand& command) {
  SiteFile site;
  unsigned jobs = 0;
  RunLimits limits;
  if (!prepare_run(reporter, command, &site, &jobs, &limits)) return 2;
  const SiteLock lock(site.path);
  if (!lock.held(reporter)) return 1;
  // Read again under the lock: another run may have rewritten it meanwhile.
  if (!load_site(reporter, command.arguments[0], &site)) return 2;
  std::vector<std::string> unknown;
  const std::vector<std::string> names(command.arguments.begin() + 1, command.arguments.end());
  std::vector<const SiteGateway*> chosen = select_gateways(site, names, &unknown);
  for (const std::string& name : unknown)
    report_error(reporter, "varnu-site pin: no gateway '%s' in %s\n", escape_bytes(name).c_str(), site.path.c_str());
  if (!unknown.empty()) return 2;

  std::vector<Probe> probes(chosen.size());
  run_parallel(chosen.size(), jobs, [&](std::size_t i) { probes[i] = probe_gateway(*chosen[i], limits); });
  std::vector<std::vector<std::string>> rows;
  bool all = true;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    SiteGateway& g = site.gateways[static_cast<std::size_t>(chosen[i] - site.gateways.data())];
    const Probe& p = probes[i];
    std::string result;
    if (p.reach != Reachability::Answered) {
      result = "not pinned: " + p.problem;
      all = false;
    } else {
      result = g.serial.empty() && g.mac.empty() && g.model.empty() ? "pinned"
               : p.mismatch.empty()                                 ? "pinned, unchanged"
                                                                    : "pinned anew, it " + p.mismatch;
      g.model = p.identity.model;
      g.serial = p.identity.serial;
      g.mac = p.identity.mac;
    }
    rows.push_back({g.name, g.address, escape_bytes(g.model), escape_bytes(g.serial), escape_bytes(g.mac), result});
  }
  // A pin is written only as the gateway's own word, and never control bytes into the file.
  if (!rewrite_site_file(reporter, site, "pin")) return 1;
  report(reporter, "%s", render_table({"name", "address", "model", "serial", "mac", "result"}, rows).c_str());
  return all ? 0 : 1;
}

namespace {

struct BackupOutcome {
  std::string state = STATE_OK;
  std::string detail;
  GatewayChanges changes;         // its words; the archives themselves went into `stored`
  std::vector<StoredArchive> stored;
  std::string firmware;        // as the gateway reported it; "" when it did not answer
  bool stored_before = false;  // the history already had this gateway
  bool staged = false;         // its changes were handed to this run's commit
  std::size_t kept = 0;        // configurations stored for it
};

BackupOutcome back_up_one(const SiteGateway& g, const RunLimits& limits, const std::string& history_path) {
  BackupOutcome outcome;
  GatewayFetch fetched = fetch_gateway(g, limits);
  outcome.state = fetched.probe.reach != Reachability::Answered ? STATE_NO_ANSWER
                  : !fetched.probe.mismatch.empty()             ? STATE_OTHER_GATEWAY
                  : !fetched.problem.empty()                    ? STATE_FAILED
                                                                : STATE_OK;
  outcome.detail = fetched.problem;
  outcome.firmware = fetched.probe.identity.firmware;
  // What was fetched of a gateway that failed part way is kept all the same.
  if (fetched.archives.empty()) return outcome;
  // Each worker reads the history through a handle of its own.
  std::string problem;
  std::unique_ptr<History> history = History::open(history_path, false, &problem);
  if (!history) {
    outcome.state = STATE_FAILED;
    outcome.detail = problem;
    return outcome;
  }
  const std::vector<FetchedArchive> before = history->archives(g.name, "", &problem);
  outcome.stored_before = !before.empty();
  outcome.changes = compare_archives(g.name, before, std::move(fetched.archives));
  // Hundreds of gateways' archives are not held until the commit: only their ids are.
  outcome.stored = history->store(outcome.changes.changed, &problem);
  outcome.kept = outcome.stored.size();
  if (outcome.stored.empty() && !outcome.changes.changed.empty() && outcome.state == STATE_OK) {
    outcome.state = STATE_FAILED;
    outcome.detail = problem;
  }
  outcome.changes.changed.clear();
  outcome.changes.changed.shrink_to_fit();
  return outcome;
}

// Stages every gateway whose configurations changed and commits them as one
// version. `changed` counts them; false when the history refused the commit.
bool commit_run(const Reporter& reporter, History& history, const std::vector<const SiteGateway*>& gateways,
                std::vector<BackupOutcome>& outcomes, std::size_t* changed) {
  std::string message;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    BackupOutcome& o = outcomes[i];
    if (o.stored.empty()) continue;
    ++*changed;
    history.stage(gateways[i]->name, std::move(o.stored));
    o.staged = true;
    for (const std::string& line : o.changes.lines) message += line + "\n";
  }
  if (*changed == 0) return true;
  message = "backup: " + std::to_string(*changed) + " of " + std::to_string(gateways.size()) +
            " gateways changed\n\n" + message;
  std::string problem;
  if (!history.commit(message, false, &problem).empty() || problem.empty()) return true;
  report_error(reporter, "varnu-site backup: the history could not take this run: %s\n", problem.c_str());
  return false;
}

// What a successful backup changed, for the state file: "first backup", the
// changes without the gateway's name, or "" when nothing changed.
std::string changed_words(const SiteGateway& g, const BackupOutcome& o) {
  if (!o.staged) return "";
  if (!o.stored_before) return "first backup";
  std::string words;
  for (const std::string& line : o.changes.lines)
    words += (words.empty() ? "" : "; ") + line.substr(std::min(line.size(), g.name.size() + 2));
  return words;
}

// The event of one gateway's end: done, refused (not the pinned gateway) or
// failed, with the reason in the words of the state file.
Step gateway_step(const SiteGateway& g, std::size_t index, std::size_t total, const BackupOutcome& o) {
  const char* outcome = o.state == STATE_OK ? "done" : o.state == STATE_OTHER_GATEWAY ? "refused" : "failed";
  std::string reason = o.state == STATE_OK ? "" : o.state == STATE_FAILED ? o.detail : o.state;
  if (o.state != STATE_OK && o.state != STATE_FAILED && !o.detail.empty()) reason += ": " + o.detail;
  return {"gateway", g.name, index + 1, total, outcome, reason};
}

// The result column of the summary table.
std::string result_words(const SiteGateway& g, const BackupOutcome& o, const std::string& outcome,
                         const std::string& detail, const GatewayRecord& record, int64_t now) {
  const std::size_t count = o.changes.lines.size();
  if (outcome != STATE_OK) {
    std::string words = outcome + (detail.empty() ? "" : ": " + detail);
    if (o.staged && outcome == STATE_FAILED)
      words += "; kept in the history: " + std::to_string(o.kept) + (o.kept == 1 ? " configuration" : " configurations");
    if (record.failing_since != now) words += " (failing since " + time_words(record.failing_since) + ")";
    return words;
  }
  std::string words = !o.stored_before ? "backed up, first version"
                      : count          ? "backed up, " + std::to_string(count) + (count == 1 ? " change" : " changes")
                                       : "backed up, no change";
  if (g.serial.empty() && g.mac.empty()) words += " (not pinned: identity not checked)";
  return words;
}

}  // namespace

int command_backup(const Reporter& reporter, const SiteCommand& command) {
  SiteFile site;
  unsigned jobs = 0;
  RunLimits limits;
  if (!prepare_run(reporter, command, &site, &jobs, &limits)) return 2;
  std::vector<std::string> unknown;
  const std::vector<const SiteGateway*> gateways =
      select_gateways(site, std::vector<std::string>(command.arguments.begin() + 1, command.arguments.end()), &unknown);
  for (const std::string& name : unknown)
    report_error(reporter, "varnu-site backup: no gateway '%s' in %s\n", escape_bytes(name).c_str(), site.path.c_str());
  if (!unknown.empty()) return 2;
  const SiteLock lock(site.path);
  if (!lock.held(reporter)) return 1;
  const std::string history_path = history_folder(site.path);
  std::string problem;
  std::unique_ptr<History> history = History::open(history_path, true, &problem);
  if (!history) {
    report_error(reporter, "varnu-site backup: %s\n", problem.c_str());
    return 1;
  }

  std::vector<BackupOutcome> outcomes(gateways.size());
  std::mutex events;
  run_parallel(outcomes.size(), jobs, [&](std::size_t i) {
    outcomes[i] = back_up_one(*gateways[i], limits, history_path);
    // Told as each gateway ends, for a window that shows the run.
    const std::lock_guard<std::mutex> one_at_a_time(events);
    event_step(reporter, gateway_step(*gateways[i], i, gateways.size(), outcomes[i]));
  });
  std::size_t changed = 0;
  const bool committed = commit_run(reporter, *history, gateways, outcomes, &changed);
  if (!committed) event_warning(reporter, "the history could not take this run's changes: they are not backed up");

  const std::string state_path = state_file_path(site.path);
  RunState state = read_run_state(state_path);
  std::vector<StateChange> changes;
  std::vector<std::vector<std::string>> rows;
  std::size_t backed_up = 0;
  const int64_t now = now_seconds();
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const SiteGateway& g = *gateways[i];
    const BackupOutcome& o = outcomes[i];
    // Changes the history could not take are not backed up; unchanged gateways are, as before.
    const bool lost = !committed && o.staged;
    const std::string outcome = lost ? STATE_FAILED : o.state;
    const std::string detail = lost ? "the history could not take its changes" : o.detail;
    std::string before;
    if (record_outcome(state, g.name, outcome, detail, now, &before))
      changes.push_back({g.name, g.address, before, outcome, detail});
    if (outcome == STATE_OK) ++backed_up;
    GatewayRecord& record = state[g.name];
    if (!o.firmware.empty()) record.firmware = o.firmware;
    if (outcome == STATE_OK) record.changed = changed_words(g, o);
    if (o.staged && committed) Event(reporter, "notice").text("text", g.name + ": " + changed_words(g, o));
    rows.push_back({g.name, g.address, result_words(g, o, outcome, detail, state[g.name], now)});
  }
  if (!write_run_state(state_path, state)) {
    report_error(reporter, "varnu-site backup: the state file %s could not be written\n", state_path.c_str());
    event_warning(reporter, "the state file " + state_path + " could not be written");
  }

  const std::size_t failed = gateways.size() - backed_up;
  const std::string summary = std::to_string(gateways.size()) + " gateways: " + std::to_string(backed_up) +
                              " backed up (" + std::to_string(committed ? changed : 0) + " changed), " +
                              std::to_string(failed) + " not backed up";
  report(reporter, "%s", render_table({"name", "address", "result"}, rows).c_str());
  report(reporter, "%s%s\n", summary.c_str(), changed && committed ? "; history updated" : "");
  const Hooks hooks{command.value("--on-change"), command.value("--on-failure")};
  const int hook_failures = run_hooks(hooks, site.path, changes, summary);
  if (hook_failures) report_error(reporter, "varnu-site backup: %d hook run(s) failed\n", hook_failures);
  return failed ? 1 : 0;
}
