// The state file of unattended runs, beside the site file ("building.state"):
// per gateway the state of the last run, its last success and since when it
// has been failing. The hooks run when a gateway's state changes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// States as words, as tables, the state file and the hooks show them.
inline constexpr const char* STATE_OK = "ok";
inline constexpr const char* STATE_NO_ANSWER = "no answer";
inline constexpr const char* STATE_OTHER_GATEWAY = "other gateway at this address";
inline constexpr const char* STATE_FAILED = "backup failed";

struct GatewayRecord {
  std::string state = STATE_OK;  // a gateway never seen counts as ok: its first run is no change when it works
  int64_t last_success = 0;      // seconds since 1970; 0 never
  int64_t failing_since = 0;     // 0 while it works
  std::string detail;            // the last failure's reason
  // What its last successful backup changed against the version before:
  // "first backup", the changes in words ("; " between them), or "" for none.
  std::string changed;
  std::string firmware;  // as it reported at its last answered backup; "" unknown
};

using RunState = std::map<std::string, GatewayRecord>;

std::string state_file_path(const std::string& site_path);
// Reads the state file; an absent or unreadable one is an empty state.
// Files written before `changed` and `firmware` existed read with them empty.
RunState read_run_state(const std::string& path);
bool write_run_state(const std::string& path, const RunState& state);
// "2026-12-08 17:05 UTC"
std::string time_words(int64_t seconds);

struct StateChange {
  std::string gateway, address, before, after, detail;
};

// Records one gateway's outcome at `now`; the change when its state changed.
bool record_outcome(RunState& state, const std::string& gateway, const std::string& outcome,
                    const std::string& detail, int64_t now, std::string* before);

struct Hooks {
  std::string on_change, on_failure;  // shell commands; empty: none
};

// Runs the hooks for each change: on_change for every one, on_failure for
// those into a state other than ok. The environment holds VARNU_SITE,
// VARNU_GATEWAY, VARNU_ADDRESS, VARNU_STATE, VARNU_PREVIOUS_STATE,
// VARNU_DETAIL and VARNU_SUMMARY. Returns the number of hooks that failed.
int run_hooks(const Hooks& hooks, const std::string& site_path, const std::vector<StateChange>& changes,
              const std::string& summary);
