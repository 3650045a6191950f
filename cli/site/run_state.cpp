#include "site/run_state.h"

#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "site/history.h"

namespace {

// Tabs and line ends would break the file's lines.
std::string one_line(std::string text) {
  for (char& c : text)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

std::string state_file_path(const std::string& site_path) { return site_stem(site_path) + ".state"; }

RunState read_run_state(const std::string& path) {
  RunState state;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, last_success, failing_since;
    GatewayRecord record;
    if (!std::getline(fields, name, '\t') || !std::getline(fields, record.state, '\t') ||
        !std::getline(fields, last_success, '\t') || !std::getline(fields, failing_since, '\t'))
      continue;
    std::getline(fields, record.detail, '\t');
    std::getline(fields, record.changed, '\t');
    std::getline(fields, record.firmware, '\t');
    record.last_success = std::strtoll(last_success.c_str(), nullptr, 10);
    record.failing_since = std::strtoll(failing_since.c_str(), nullptr, 10);
    state[name] = record;
  }
  return state;
}

bool write_run_state(const std::string& path, const RunState& state) {
  std::string text =
      "# varnu-site state: name, state, last success, failing since (seconds since 1970), detail, changed, "
      "firmware\n";
  for (const auto& [name, r] : state)
    text += name + "\t" + r.state + "\t" + std::to_string(r.last_success) + "\t" + std::to_string(r.failing_since) +
            "\t" + one_line(r.detail) + "\t" + one_line(r.changed) + "\t" + one_line(r.firmware) + "\n";
  return platform::write_file_replacing(path.c_str(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string time_words(int64_t seconds) {
  std::tm when{};
  const std::time_t t = static_cast<std::time_t>(seconds);
  if (!gmtime_r(&t, &when)) return "?";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &when);
  return text;
}

bool record_outcome(RunState& state, const std::string& gateway, const std::string& outcome,
                    const std::string& detail, int64_t now, std::string* before) {
  GatewayRecord& r = state[gateway];
  *before = r.state;
  const bool changed = r.state != outcome;
  r.state = outcome;
  r.detail = outcome == STATE_OK ? "" : detail;
  if (outcome == STATE_OK) {
    r.last_success = now;
    r.failing_since = 0;
  } else if (r.failing_since == 0) {
    r.failing_since = now;
  }
  return changed;
}

int run_hooks(const Hooks& hooks, const std::string& site_path, const std::vector<StateChange>& changes,
              const std::string& summary) {
  int failed = 0;
  for (const StateChange& change : changes) {
    const std::vector<std::string> environment = {
        "VARNU_SITE=" + site_path,          "VARNU_GATEWAY=" + change.gateway,
        "VARNU_ADDRESS=" + change.address,  "VARNU_STATE=" + change.after,
        "VARNU_PREVIOUS_STATE=" + change.before, "VARNU_DETAIL=" + change.detail,
        "VARNU_SUMMARY=" + summary};
    if (!hooks.on_change.empty() && platform::run_command(hooks.on_change, environment) != 0) ++failed;
    if (!hooks.on_failure.empty() && change.after != STATE_OK &&
        platform::run_command(hooks.on_failure, environment) != 0)
      ++failed;
  }
  return failed;
}
