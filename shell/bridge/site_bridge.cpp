#include "bridge/site_bridge.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <memory>

#include "app/diagnostics.h"
#include "app/paths.h"
#include "app/platform.h"
#include "bridge/action_flow.h"
#include "bridge/path_picker.h"
#include "bridge/handover_report.h"
#include "runs/console_window.h"
#include "runs/message_boxes.h"
#include "runs/run_log.h"
#include "runs/site_command.h"

namespace {

constexpr char kCancelled[] = "{\"cancelled\":true}";
constexpr char kNoticeCaption[] = "Site";

using Reply = std::function<void(int)>;

QByteArray Compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

std::vector<std::string> ToStd(const QStringList& list) {
  std::vector<std::string> texts;
  for (const QString& text : list) texts.push_back(text.toStdString());
  return texts;
}

QStringList ToQt(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& text : texts) list << QString::fromStdString(text);
  return list;
}

// The recent sites live in the private state folder, beside the dialogs' last folders.
QString RecentSettingsPath() {
  return QString::fromStdString(state_folder(shell_platform::user_state_home()) + "sites.ini");
}

QStringList RecentSites() {
  QStringList existing;
  for (const QString& site : QSettings(RecentSettingsPath(), QSettings::IniFormat).value("recent").toStringList()) {
    if (QFileInfo(site).isFile()) existing << site;
  }
  return existing;
}

void Remember(const QString& site) {
  if (!MakeStateFolder()) return;
  QSettings(RecentSettingsPath(), QSettings::IniFormat)
      .setValue("recent", ToQt(recent_sites_with(ToStd(RecentSites()), site.toStdString())));
}

void RunSite(const std::vector<std::string>& arguments, int limit_ms,
             const std::function<void(const QuietRun&)>& done) {
  diagnostic("site " + ToQt(arguments).join(' '));
  RunQuietly(SiteToolPath(), arguments, limit_ms, done);
}

// The list document of the site; an opened site joins the recent ones unless it could not be read at all.
void List(const QString& site, bool remember, const JsonReply& reply) {
  if (site.isEmpty()) {
    reply(site_error("No site file was given."));
    return;
  }
  const QString path = QFileInfo(site).absoluteFilePath();
  RunSite(site_arguments("list", path.toStdString(), {}, {"--json"}), kSiteReadLimitMs,
          [path, remember, reply](const QuietRun& run) {
            const QByteArray answer = site_answer(run, kSiteReadLimitMs);
            if (remember && !QJsonDocument::fromJson(answer).object().contains("error")) Remember(path);
            reply(answer);
          });
}

void Open(const QString& site, const JsonReply& reply) {
  if (!site.isEmpty()) {
    List(site, true, reply);
    return;
  }
  PickPath(PathPick::OpenFile, site_open_dialog(), [reply](const QString& chosen) {
    if (chosen.isEmpty()) {
      reply(kCancelled);
    } else {
      List(chosen, true, reply);
    }
  });
}

// A command that changes the site file, then the site as it is now.
void ChangeAndList(const QString& site, const std::vector<std::string>& arguments, const JsonReply& reply) {
  RunSite(arguments, kSiteLiveLimitMs, [site, reply](const QuietRun& run) {
    if (run.exit_code == 0) {
      List(site, true, reply);
      return;
    }
    const QByteArray answer = site_answer(run, kSiteLiveLimitMs);
    reply(QJsonDocument::fromJson(answer).object().contains("error")
              ? answer
              : site_error("varnu-site ended with exit status " + std::to_string(run.exit_code) + "."));
  });
}

void Create(const JsonReply& reply) {
  PickPath(PathPick::SaveFile, site_create_dialog(), [reply](const QString& chosen) {
    if (chosen.isEmpty()) {
      reply(kCancelled);
      return;
    }
    ChangeAndList(chosen, {"create", "--", chosen.toStdString()}, reply);
  });
}

void Change(const QString& site, const QString& change, const JsonReply& reply) {
  const SiteChange made = site_change(site.toStdString(), change.toStdString());
  if (site.isEmpty() || !made.error.empty()) {
    reply(site_error(site.isEmpty() ? "No site file was given." : made.error));
    return;
  }
  if (made.question.empty()) {
    ChangeAndList(site, made.arguments, reply);
    return;
  }
  AskBeforeRemoving(QString::fromStdString(made.question), [site, made, reply](bool agreed) {
    if (agreed) {
      ChangeAndList(site, made.arguments, reply);
    } else {
      reply(kCancelled);
    }
  });
}

// Reads the site's row of `name` (address and pin); a notice and kResultNotRun when there is none.
void WithGateway(const QString& site, const QString& name, const Reply& reply,
                 const std::function<void(const SiteGateway&)>& proceed) {
  if (site.isEmpty() || name.isEmpty()) {
    ShowNotice(kNoticeCaption, "Missing or wrong arguments.", [reply] { reply(kResultNotRun); });
    return;
  }
  RunSite(site_arguments("list", site.toStdString(), {}, {"--json"}), kSiteReadLimitMs,
          [site, name, reply, proceed](const QuietRun& run) {
            const std::optional<SiteGateway> gateway = site_gateway(run.out, name.toStdString());
            if (gateway) {
              proceed(*gateway);
              return;
            }
            const QJsonObject answer = QJsonDocument::fromJson(site_answer(run, kSiteReadLimitMs)).object();
            const QString why = answer.contains("error") ? answer.value("error").toString()
                                                         : "The site file " + site + " has no gateway " + name + ".";
            ShowNotice(kNoticeCaption, why, [reply] { reply(kResultNotRun); });
          });
}

void BackupAll(const QString& site, const Reply& reply) {
  if (site.isEmpty()) {
    reply(kResultNotRun);
    return;
  }
  const QString path = QFileInfo(site).absoluteFilePath();
  ConsoleWindow::Run(SiteToolPath(), {"backup", path}, site_backup_names(path.toStdString()), reply, 1);
}

void Restore(const QString& site, const QString& name, const QString& version, const Reply& reply) {
  WithGateway(site, name, reply, [=](const SiteGateway& gateway) {
    const std::vector<std::string> from =
        version.isEmpty() ? std::vector<std::string>{} : std::vector<std::string>{"--from=" + version.toStdString()};
    std::vector<std::string> plan_options = from;
    plan_options.insert(plan_options.end(), {"--plan", "--json"});
    RunSite(site_arguments("restore", site.toStdString(), {name.toStdString()}, plan_options), kSiteLiveLimitMs,
            [=](const QuietRun& run) {
              const SiteRestorePlan planned = read_site_restore_plan(run);
              QueryGatewayStatus(gateway.address, [=](const GatewayStatus& status) {
                const std::string what = (version.isEmpty() ? std::string("the latest version")
                                                            : "version " + version.left(10).toStdString()) +
                                         " of " + name.toStdString();
                const Confirmation asked =
                    history_restore_confirmation(what, gateway.address, status, planned.plan, planned.identity);
                AskBeforeWriting(asked, NativeAction::Restore, [=](bool agreed) {
                  if (!agreed) {
                    reply(kResultDeclined);
                    return;
                  }
                  // Options before the site file: the run view adds its events option after the subcommand.
                  QStringList arguments{"restore"};
                  arguments << ToQt(from) << "--" << site << name;
                  ConsoleWindow::Run(SiteToolPath(), arguments,
                                     site_restore_names(name.toStdString(), gateway.address), reply, 1);
                });
              });
            });
  });
}

void Action(const QString& site, const QString& name, const QueryItem& item, const Reply& reply) {
  const std::optional<NativeAction> action = native_action_by_name(item("action").toStdString());
  if (!action) {
    ShowNotice(kNoticeCaption, "Missing or wrong arguments.", [reply] { reply(kResultNotRun); });
    return;
  }
  const std::optional<ChannelChoice> choice = channel_choice(item("channel").toStdString(), item("kind").toStdString());
  WithGateway(site, name, reply, [=](const SiteGateway& gateway) {
    const PinArguments pin = gateway_pin_arguments(name.toStdString(), gateway);
    if (!pin.error.empty()) {
      ShowNotice(kNoticeCaption, QString::fromStdString(pin.error), [reply] { reply(kResultNotRun); });
      return;
    }
    RunAction(*action, QString::fromStdString(gateway.address), choice, reply, pin.arguments);
  });
}

}  // namespace

bool IsSiteFunction(const QString& function) {
  static const QStringList names{"native_siteRecent",    "native_siteOpen",   "native_siteCreate",
                                 "native_siteList",      "native_siteStatus", "native_siteChange",
                                 "native_siteLog",       "native_siteDiff",   "native_siteBackupAll",
                                 "native_siteRestore",   "native_siteAction", "native_siteReport",
                                 "native_backupReport",  "native_gatewayReport"};
  return names.contains(function);
}

void HandleSiteFunction(const QString& function, const QueryItem& item, const JsonReply& reply_json,
                        const Reply& reply) {
  const QString site = item("site"), name = item("name");
  if (function == "native_siteRecent") {
    reply_json(Compact({{"sites", QJsonArray::fromStringList(RecentSites())}}));
  } else if (function == "native_siteOpen") {
    Open(site, reply_json);
  } else if (function == "native_siteCreate") {
    Create(reply_json);
  } else if (function == "native_siteList") {
    List(site, false, reply_json);
  } else if (function == "native_siteStatus") {
    if (site.isEmpty()) {
      reply_json(site_error("No site file was given."));
      return;
    }
    RunSite(site_arguments("status", site.toStdString(), {}, {"--json"}), kSiteLiveLimitMs,
            [reply_json](const QuietRun& run) { reply_json(site_answer(run, kSiteLiveLimitMs)); });
  } else if (function == "native_siteChange") {
    Change(site, item("change"), reply_json);
  } else if (function == "native_siteLog" || function == "native_siteDiff") {
    const bool log = function == "native_siteLog";
    std::vector<std::string> words;
    for (const char* key : {"name", "from", "to"}) {
      if (log && words.size() == 1) break;
      if (item(key).isEmpty()) break;
      words.push_back(item(key).toStdString());
    }
    if (site.isEmpty() || (!log && words.empty())) {
      reply_json(site_error("No site file or gateway was given."));
      return;
    }
    RunSite(site_arguments(log ? "log" : "diff", site.toStdString(), words, {"--json"}), kSiteReadLimitMs,
            [reply_json](const QuietRun& run) { reply_json(site_answer(run, kSiteReadLimitMs)); });
  } else if (function == "native_siteBackupAll") {
    BackupAll(site, reply);
  } else if (function == "native_siteRestore") {
    Restore(site, name, item("version"), reply);
  } else if (function == "native_siteAction") {
    Action(site, name, item, reply);
  } else if (function == "native_siteReport") {
    SiteReport(site, item("names"), reply_json);
  } else if (function == "native_gatewayReport") {
    GatewayReport(item("ip"), reply_json);
  } else {
    BackupReport(item("path"), reply_json);
  }
}
