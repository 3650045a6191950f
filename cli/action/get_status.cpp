#include "action/action.h"
#include "util/json_writer.h"
#include "status/status.h"
#include "util/text.h"

int get_status(Gateway& gateway, const Reporter& reporter, const char* ip, bool json) {
  if (!ip) {
    report(reporter, "Missing arguments for action get_status.");
    return 2;
  }
  StatusReport status;
  const StatusOutcome outcome = query_status(gateway, ip, &status);
  if (!outcome.read) {
    if (!outcome.reason.empty()) report_error(reporter, "%s", outcome.reason.c_str());
    return 1;
  }
  if (json) {
    // Every member the gateway reported, for callers that show more than the model.
    JsonWriter writer;
    json_begin_object(writer);
    for (const auto& [name, value] : status_members(status)) {
      json_key(writer, name);
      json_string(writer, value);
    }
    json_end_object(writer);
    report_document(reporter, writer.out + "\n");
    return 0;
  }
  report(reporter, "model_name=%s\r\n", escape_bytes(*status.model_name).c_str());
  return 0;
}
