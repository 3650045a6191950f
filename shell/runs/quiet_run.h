// A console-tool or site-program run without a window, as the status query,
// the backup readers and the site functions make it: the page shows the answer.
#pragma once

#include <QString>

#include <functional>
#include <string>
#include <vector>

// Its output once it ended, or why it did not.
struct QuietRun {
  std::string out, err;
  int exit_code = -1;       // -1 when it crashed or was killed
  bool timed_out = false;   // killed at the caller's time limit
  std::string start_error;  // non-empty when it could not be started
};

// The console tool beside the shell: cli/varnu-cli.
QString ConsoleToolPath();
// The site program beside it: cli/varnu-site.
QString SiteToolPath();

// Runs `program` with `arguments`; `done` receives its output, at the latest
// after `limit_ms` (the program is killed then).
void RunQuietly(const QString& program, const std::vector<std::string>& arguments, int limit_ms,
                const std::function<void(const QuietRun&)>& done);
// The same with the console tool.
void RunQuietly(const std::vector<std::string>& arguments, int limit_ms,
                const std::function<void(const QuietRun&)>& done);
