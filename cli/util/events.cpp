#include "util/events.h"

Event::Event(const Reporter& reporter, const char* name) : log_(reporter.events) {
  if (!log_ || !log_->file) {
    log_ = nullptr;
    return;
  }
  json_begin_object(writer_);
  text("event", name);
}

Event::~Event() {
  if (!log_) return;
  json_end_object(writer_);
  writer_.out += '\n';
  // Unbuffered in effect: a reader sees each event when it happens. A reader
  // that went away gets no more events; the action itself goes on.
  if (std::fwrite(writer_.out.data(), 1, writer_.out.size(), log_->file) != writer_.out.size() ||
      std::fflush(log_->file) != 0)
    log_->file = nullptr;
}

Event& Event::text(const char* key, std::string_view value) {
  return raw(key, log_ ? json_quote(value) : std::string());
}

Event& Event::maybe_text(const char* key, const std::optional<std::string>& value) {
  return value ? text(key, *value) : raw(key, "null");
}

Event& Event::number(const char* key, int64_t value) { return raw(key, std::to_string(value)); }

Event& Event::flag(const char* key, bool value) { return raw(key, value ? "true" : "false"); }

Event& Event::raw(const char* key, std::string_view json) {
  if (!log_) return *this;
  json_key(writer_, key);
  json_raw(writer_, json);
  return *this;
}

void event_start(const Reporter& reporter, const char* action, const char* gateway) {
  Event(reporter, "start").text("action", action).raw("gateway", gateway ? json_quote(gateway) : "null");
}

void event_step(const Reporter& reporter, const Step& step) {
  if (reporter.events) ++reporter.events->counts[step.kind][step.outcome];
  Event event(reporter, "step");
  event.text("kind", step.kind).text("name", step.name).number("index", static_cast<int64_t>(step.index));
  event.number("total", static_cast<int64_t>(step.total)).text("outcome", step.outcome);
  event.raw("reason", step.reason.empty() ? "null" : json_quote(step.reason));
}

void event_conversion(const Reporter& reporter, const char* configuration, unsigned from, unsigned to) {
  Event(reporter, "conversion").text("configuration", configuration).number("from", from).number("to", to);
}

void event_progress(const Reporter& reporter, uint64_t bytes, uint64_t total) {
  EventLog* log = reporter.events;
  if (!log) return;
  const auto now = std::chrono::steady_clock::now();
  const bool edge = bytes == 0 || bytes >= total;
  if (bytes == log->last_bytes || (!edge && now - log->last_progress < std::chrono::milliseconds(250))) return;
  log->last_progress = now;
  log->last_bytes = bytes;
  Event(reporter, "progress").number("bytes", static_cast<int64_t>(bytes)).number("total", static_cast<int64_t>(total));
}

void event_file(const Reporter& reporter, const char* kind, const std::string& path) {
  Event(reporter, "file").text("kind", kind).text("path", path);
}

void event_warning(const Reporter& reporter, const std::string& text) {
  if (reporter.events) ++reporter.events->warnings;
  Event(reporter, "warning").text("text", text);
}

void event_refusal(const Reporter& reporter, const std::string& text) {
  if (reporter.events) reporter.events->refused = true;
  event_warning(reporter, text);
}

namespace {

// "done" when all went as asked, "warnings" when it finished but not all as
// asked (a skipped CSV row, a warning), "failed" when a step failed or was
// refused, the run was refused or the action ended early, "usage" for a command line it could not run.
const char* result_word(const EventLog& log, int exit_status) {
  if (exit_status == 2) return "usage";
  bool failed = log.refused, skipped = false;
  for (const auto& [kind, outcomes] : log.counts) {
    for (const auto& [outcome, count] : outcomes) {
      failed = failed || outcome == "failed" || outcome == "refused";
      skipped = skipped || outcome == "skipped";
    }
  }
  if (failed) return "failed";
  if (skipped || log.warnings) return "warnings";
  return exit_status == 0 ? "done" : "failed";
}

}  // namespace

void event_summary(const Reporter& reporter, int exit_status) {
  if (!reporter.events) return;
  JsonWriter counts;
  json_begin_object(counts);
  for (const auto& [kind, outcomes] : reporter.events->counts) {
    json_key(counts, kind);
    json_begin_object(counts);
    for (const auto& [outcome, count] : outcomes) {
      json_key(counts, outcome);
      json_number(counts, static_cast<int64_t>(count));
    }
    json_end_object(counts);
  }
  json_end_object(counts);
  Event(reporter, "summary")
      .raw("counts", counts.out)
      .number("warnings", static_cast<int64_t>(reporter.events->warnings))
      .text("result", result_word(*reporter.events, exit_status))
      .number("exit_status", exit_status);
}
