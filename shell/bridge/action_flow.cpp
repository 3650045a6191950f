#include "bridge/action_flow.h"

#include "bridge/path_picker.h"
#include "bridge/readers.h"
#include "runs/confirmation.h"
#include "runs/console_window.h"
#include "runs/message_boxes.h"
#include "runs/quiet_run.h"

namespace {

constexpr char kNoticeCaption[] = "File Path";
constexpr char kMissingArguments[] = "Missing or wrong arguments.";
// A plan reads the status and the backup: as long as a status query and a local read.
constexpr int kPlanLimitMs = 60000;

// Asks before a restore, an upgrade or a channel setup writes, beside the gateway's status; `proceed` runs only when the user agreed.
void Confirm(NativeAction action, const std::string& gateway, const std::string& path, const ChannelChoice& choice,
             const std::function<void(int)>& reply, const std::function<void()>& proceed) {
  const auto ask = [=](const Confirmation& confirmation) {
    AskBeforeWriting(confirmation, action, [=](bool agreed) {
      if (agreed) {
        proceed();
      } else {
        reply(confirmation.refused ? kResultRefused : kResultDeclined);
      }
    });
  };
  QueryGatewayStatus(gateway, [=](const GatewayStatus& status) {
    if (action == NativeAction::FirmwareUpgrade) {
      ask(upgrade_confirmation(path, read_package_info(path), gateway, status));
      return;
    }
    if (action == NativeAction::SetupChannel) {
      ask(setup_confirmation(path, csv_rows(path), choice, gateway, status));
      return;
    }
    // What the restore would do, refusals first, before anything is written.
    RunQuietly({"--action", "put_backup", "--plan", "--json", "--ip", gateway, "--backupfilein=" + path}, kPlanLimitMs,
               [=](const QuietRun& run) {
                 const RestorePlan plan = run.timed_out ? RestorePlan{{}, "the plan took too long"}
                                                        : read_restore_plan(run.out);
                 ask(restore_confirmation(path, read_backup_origin(path), gateway, status, plan));
               });
  });
}

}  // namespace

void RunAction(NativeAction action, const std::optional<QString>& address, const std::optional<ChannelChoice>& choice,
               const std::function<void(int)>& reply, const std::vector<std::string>& extra) {
  if (!address || (needs_channel(action) && !choice)) {
    ShowNotice(kNoticeCaption, kMissingArguments, [reply] { reply(kResultNotRun); });
    return;
  }
  if (address->isEmpty()) {
    reply(kResultNotRun);
    return;
  }
  const std::string gateway = address->toStdString();
  const ChannelChoice setup = choice.value_or(ChannelChoice{});
  PickPath(path_pick(action), path_dialog(action, gateway, setup), [=](const QString& path) {
    // A cancelled dialog needs no box: the page tells that nothing ran.
    if (path.isEmpty()) {
      reply(kResultNotRun);
      return;
    }
    const auto run = [=] {
      QStringList arguments;
      for (const std::string& argument : tool_arguments(action, gateway, path.toStdString(), setup))
        arguments << QString::fromStdString(argument);
      for (const std::string& argument : extra) arguments << QString::fromStdString(argument);
      ConsoleWindow::Run(ConsoleToolPath(), arguments, run_names(action, gateway), reply);
    };
    // A restore, an upgrade and a channel setup write over what the gateway holds.
    if (action != NativeAction::Backup && action != NativeAction::ExportChannel) {
      Confirm(action, gateway, path.toStdString(), setup, reply, run);
    } else {
      run();
    }
  });
}
