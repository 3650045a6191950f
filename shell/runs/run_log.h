// The run logs: what each console-tool run wrote, kept in the user's state
// folder ("logs/", only this user may enter it; every log only this user may
// read), the last kKeptRunLogs runs or kKeptRunLogBytes of them.
#pragma once

#include <QString>

// The state folder + "logs/"; empty without a state folder.
QString LogFolder();

// Makes the state folder, private, when it is missing; false when it cannot be
// made or is not a private folder of this user.
bool MakeStateFolder();

// Writes `text` as a new log, named `name` or, when that exists, with a number
// before ".log", and prunes the oldest logs. The name written; empty on failure.
QString WriteRunLog(const QString& name, const QByteArray& text);

// Opens a window with the run log `name`; false when no such log exists (names with a folder are refused).
bool ShowLog(const QString& name);
