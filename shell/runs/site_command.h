// The window's runs of varnu-site, the site program beside the console tool:
// the arguments of each site function, the gateway row an action runs on, the
// recent sites, the question before a restore from the history, and the JSON
// text the page gets back.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "runs/confirmation.h"
#include "runs/quiet_run.h"
#include "runs/tool_command.h"

// How long site commands may take: reading the site file and its history, and
// asking every gateway at once (status, pin; each gateway within its own limit).
inline constexpr int kSiteReadLimitMs = 30000;
inline constexpr int kSiteLiveLimitMs = 120000;

inline constexpr std::size_t kRecentSites = 8;

// `command` with `options`, then the site file and `words` after "--", so that a
// gateway name or file name starting with '-' is never taken for an option.
std::vector<std::string> site_arguments(const std::string& command, const std::string& site,
                                        const std::vector<std::string>& words = {},
                                        const std::vector<std::string>& options = {});

// The recent sites once `opened` was opened: it first, each once, at most kRecentSites.
std::vector<std::string> recent_sites_with(std::vector<std::string> recent, const std::string& opened);

// A change of the site file as the page asks for it (a JSON object: op "add",
// "edit", "remove" or "pin" and its values). A removal asks `question` first.
struct SiteChange {
  std::vector<std::string> arguments;
  std::string question;
  std::string error;  // non-empty when the change cannot be made as asked
};
SiteChange site_change(const std::string& site, const std::string& change);

// A gateway's row in the site's list document; none when it has no such row.
struct SiteGateway {
  std::string address, model, serial, mac;
};
std::optional<SiteGateway> site_gateway(const std::string& list_document, const std::string& name);

// The console tool's check of the pin ("--gateway-pin=MODEL,SERIAL,MAC"; no
// argument for a gateway without a pin). `error` when a pinned value holds a
// comma and so cannot be checked: the action must not run unchecked.
struct PinArguments {
  std::vector<std::string> arguments;
  std::string error;
};
PinArguments gateway_pin_arguments(const std::string& name, const SiteGateway& gateway);

// A report's gateway names from the page's JSON array of texts; none when it is not one.
std::optional<std::vector<std::string>> report_names(const std::string& names);

// The report's file: `chosen`, with ".pdf" added unless it ends so.
std::string pdf_path(const std::string& chosen);

PathDialog site_open_dialog();
PathDialog site_create_dialog();
PathDialog report_dialog(const std::string& suggested_name);
PathDialog report_backup_dialog();

// What the page gets from a finished run: the JSON document varnu-site printed
// when it ended with 0 or 1, or with 2 and the site file's errors (an array of
// status rows comes as {"gateways": [...]}); otherwise {"error": ...} with the
// program's last line on standard error or what went wrong. Compact JSON text.
QByteArray site_answer(const QuietRun& run, int limit_ms);

// {"error": text}.
QByteArray site_error(const std::string& text);

// The restore plan of a gateway of the site (restore --plan --json): the plan and
// "identity" ("ok", "not pinned" or "other gateway at this address: …").
struct SiteRestorePlan {
  RestorePlan plan;
  std::string identity;
};
SiteRestorePlan read_site_restore_plan(const QuietRun& run);
