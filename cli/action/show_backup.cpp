// The show_backup action: a backup's gateway, configurations and records as
// aligned text or one JSON document.
#include "action/action.h"
#include "inspect/inspect.h"

int show_backup(const Reporter& reporter, const char* backupfilein, bool json) {
  if (!backupfilein) {
    report(reporter, "Missing arguments for action show_backup.");
    return 2;
  }
  const BackupSet set = read_backup(backupfilein);
  if (!set.problem.empty()) {
    report_error(reporter, "show_backup\t'%s': %s.\n", backupfilein, set.problem.c_str());
    return 1;
  }
  if (json)
    report_document(reporter, render_show_json(set));
  else
    report(reporter, "%s", render_show_text(set).c_str());
  return 0;
}
