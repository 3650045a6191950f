// The diff_backup action: what changed from one backup to another. Its
// results follow diff(1) so that scripts can branch on them.
#include "action/action.h"
#include "inspect/inspect.h"

int diff_backup(const Reporter& reporter, const char* backupfilein, const char* with, bool json) {
  if (!backupfilein || !with) {
    report(reporter, "Missing arguments for action diff_backup.");
    return 2;
  }
  const BackupSet old_set = read_backup(backupfilein), new_set = read_backup(with);
  for (const BackupSet* set : {&old_set, &new_set}) {
    if (!set->problem.empty()) {
      report_error(reporter, "diff_backup\t'%s': %s.\n", set->source.c_str(), set->problem.c_str());
      return 2;
    }
  }
  const BackupDiff diff = diff_backups(old_set, new_set);
  if (json)
    report_document(reporter, render_diff_json(diff));
  else
    report(reporter, "%s", render_diff_text(diff).c_str());
  return diff.different ? 1 : 0;
}
