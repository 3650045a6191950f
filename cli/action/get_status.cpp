#include "action/action.h"
#include "status/status.h"
#include "util/text.h"

int get_status(Gateway& gateway, const Reporter& reporter, const char* ip) {
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
  report(reporter, "model_name=%s\r\n", escape_bytes(*status.model_name).c_str());
  return 0;
}
