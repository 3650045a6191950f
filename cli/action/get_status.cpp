#include "action/action.h"
#include "status/status.h"

int get_status(Gateway& gateway, const Reporter& reporter, const char* ip) {
  if (!ip) {
    report(reporter, "Missing arguments for action get_status.");
    return 2;
  }
  StatusReport status;
  const int result = query_status(gateway, ip, &status);
  if (result == 0) report(reporter, "model_name=%s\r\n", status.model_name->c_str());
  return result;
}
