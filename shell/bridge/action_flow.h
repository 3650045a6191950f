// One call of an action function (backup, restore, firmware upgrade, channel
// setup or export): the notice for wrong arguments, the file dialog, the
// question before a restore or upgrade writes, then the run in a console window.
#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runs/tool_command.h"

// `reply` receives the page's result once the notice, the dialog and the
// console tool are done. A channel setup or export also needs `choice`. The
// run passes `extra` to the tool after its own arguments (a site's gateway pin).
void RunAction(NativeAction action, const std::optional<QString>& address, const std::optional<ChannelChoice>& choice,
               const std::function<void(int)>& reply, const std::vector<std::string>& extra = {});
