// Test hook: with VARNKIT_DIAGNOSTICS set in the environment, the shell reports
// on standard error what the user is shown (notices, dialogs, console results),
// one line per event starting with "varnkit: ", so end-to-end tests can follow it.
#pragma once

#include <QString>

void diagnostic(const QString& event);
