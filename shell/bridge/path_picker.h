// The file dialogs of the native functions, each starting in the folder used
// last for its kind of file.
#pragma once

#include <QString>

#include <functional>

#include "runs/tool_command.h"

// Shows the dialog `look` describes, for a folder, a file to open or a file to
// save, over the active window; `done` receives the chosen path, or an empty
// text when none was chosen.
void PickPath(PathPick pick, const PathDialog& look, const std::function<void(const QString&)>& done);
