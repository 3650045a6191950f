// The machine-readable account of a run (--events FD): one JSON object per
// line on a descriptor of the caller's choice, written next to the human
// lines that say the same. Every line is built here, so the escaping and the
// field names live in one place; README "Events" is the schema.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "util/json_writer.h"
#include "util/reporter.h"

struct EventLog {
  std::FILE* file = nullptr;  // nullptr once a write failed
  // Steps so far: kind -> outcome -> count; the summary carries them.
  std::map<std::string, std::map<std::string, uint64_t>> counts;
  uint64_t warnings = 0;
  bool refused = false;  // the run was refused as a whole (event_refusal)
  std::chrono::steady_clock::time_point last_progress{};
  uint64_t last_bytes = UINT64_MAX;  // of the last progress event
};

// One event line under construction: fields are added in order and the line
// is written when the object goes out of scope. Does nothing without a log.
class Event {
 public:
  Event(const Reporter& reporter, const char* name);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  Event& text(const char* key, std::string_view value);
  Event& maybe_text(const char* key, const std::optional<std::string>& value);  // null when absent
  Event& number(const char* key, int64_t value);
  Event& flag(const char* key, bool value);
  Event& raw(const char* key, std::string_view json);  // already formed JSON

 private:
  EventLog* log_;
  JsonWriter writer_;
};

// What became of one step: a configuration, a channel, a CSV row, the firmware.
struct Step {
  const char* kind;       // "configuration", "channel", "row", "firmware"
  std::string name;       // "dali2", "1" (a channel), the CSV line number, the firmware file
  uint64_t index = 0;     // 1-based position among the `total` steps of this kind
  uint64_t total = 0;
  const char* outcome;    // "done", "skipped", "refused", "failed"
  std::string reason;     // empty when done
};

void event_start(const Reporter& reporter, const char* action, const char* gateway);
// Counts the step by kind and outcome for the summary.
void event_step(const Reporter& reporter, const Step& step);
void event_conversion(const Reporter& reporter, const char* configuration, unsigned from, unsigned to);
// At most four a second, the first and the last always.
void event_progress(const Reporter& reporter, uint64_t bytes, uint64_t total);
void event_file(const Reporter& reporter, const char* kind, const std::string& path);
// Something the user must see that is no step of its own; it makes the run's result "warnings" at best.
void event_warning(const Reporter& reporter, const std::string& text);
// A warning that refuses the whole run before anything was sent (not the
// pinned gateway): the run's result is "failed".
void event_refusal(const Reporter& reporter, const std::string& text);
// The last line: counts, the result word and the exit status.
void event_summary(const Reporter& reporter, int exit_status);
