#include <cstdio>

#include "action/action.h"
#include "status/status.h"

int get_status(Gateway& gateway, const char* ip) {
  if (!ip) {
    std::printf("Missing arguments for action get_status.");
    return 2;
  }
  StatusReport report;
  int result = query_status(gateway, ip, &report);
  if (result == 0) std::printf("model_name=%s\r\n", report.model_name->c_str());
  release_status(&report);
  return result;
}
