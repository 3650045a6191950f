// varnu-site report: the handover document of a site, or of one backup file,
// as HTML, from the latest version of each gateway in the site's history.
#include <ctime>
#include <filesystem>

#include "inspect/report_html.h"
#include "platform/platform.h"
#include "site/changes.h"
#include "site/commands.h"
#include "site/history.h"
#include "site/run_state.h"
#include "site/site_file.h"
#include "util/text.h"

namespace {

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm when{};
  char text[16] = "?";
  if (gmtime_r(&now, &when)) std::strftime(text, sizeof text, "%Y-%m-%d", &when);
  return text;
}

// The latest version of the gateway in the history, when it has one.
void add_latest_backup(const History& history, ReportGateway& gateway, std::string* problem) {
  std::string missing;
  const std::vector<FetchedArchive> archives = history.archives(gateway.name, "", &missing);
  if (archives.empty()) return;
  for (const HistoryEntry& entry : history.log(gateway.name)) {
    if (!entry.changed) continue;
    gateway.source = "version " + entry.id.substr(0, 10) + " of " + time_words(entry.time);
    break;
  }
  gateway.backup = backup_set_of(archives, gateway.name);
  if (!gateway.backup->problem.empty()) *problem = gateway.backup->problem;
}

bool write_report(const Reporter& reporter, const std::string& path, const std::string& html) {
  if (path == "-") {
    std::fwrite(html.data(), 1, html.size(), stdout);
    return std::fflush(stdout) == 0;
  }
  if (platform::write_file_replacing(path.c_str(), reinterpret_cast<const uint8_t*>(html.data()), html.size()))
    return true;
  report_error(reporter, "varnu-site report: %s could not be written\n", path.c_str());
  return false;
}

int site_report(const Reporter& reporter, const SiteCommand& command, ReportDocument& report) {
  SiteFile site;
  if (!load_site(reporter, command.arguments[0], &site)) return 2;
  std::vector<std::string> unknown;
  const std::vector<std::string> names(command.arguments.begin() + 1, command.arguments.end());
  const std::vector<const SiteGateway*> chosen = select_gateways(site, names, &unknown);
  for (const std::string& name : unknown)
    report_error(reporter, "varnu-site: no gateway '%s' in %s\n", escape_bytes(name).c_str(), site.path.c_str());
  if (!unknown.empty()) return 2;
  SiteHeading heading = site_heading(site);
  report.title = std::move(heading.title);
  report.installer = std::move(heading.installer);
  report.notes = std::move(heading.notes);
  // No history yet: a site before its first backup still gets its document.
  std::unique_ptr<History> history;
  if (platform::is_folder(history_folder(site.path).c_str())) {
    std::string problem;
    history = History::open(history_folder(site.path), false, &problem);
    if (!history) {
      report_error(reporter, "varnu-site report: %s\n", problem.c_str());
      return 1;
    }
  }
  for (const SiteGateway* g : chosen) {
    ReportGateway gateway{g->name, g->address, g->notes, "", std::nullopt};
    std::string problem;
    if (history) add_latest_backup(*history, gateway, &problem);
    if (!gateway.backup)
      report_error(reporter, "varnu-site report: %s: no backup yet\n", g->name.c_str());
    else if (!problem.empty())
      report_error(reporter, "varnu-site report: %s: %s\n", g->name.c_str(), problem.c_str());
    report.gateways.push_back(std::move(gateway));
  }
  return 0;
}

int backup_file_report(const Reporter& reporter, const std::string& path, ReportDocument& report) {
  BackupSet set = read_backup(path);
  if (!set.problem.empty()) {
    report_error(reporter, "varnu-site report: %s\n", set.problem.c_str());
    return 1;
  }
  const std::string name = std::filesystem::path(path).filename().string();
  report.title = name;
  report.gateways.push_back({set.gateway.serial_number.value_or(name), "", "", "backup file " + name, std::move(set)});
  return 0;
}

}  // namespace

int command_report(const Reporter& reporter, const SiteCommand& command) {
  const bool from_file = command.has("--backup");
  if (from_file == !command.arguments.empty() || !command.has("--html")) {
    report_error(reporter, "varnu-site report: give either SITE or --backup FILE, and --html FILE\n");
    return 2;
  }
  ReportDocument report;
  report.date = today();
  const int status = from_file ? backup_file_report(reporter, command.value("--backup"), report)
                               : site_report(reporter, command, report);
  if (status != 0) return status;
  if (command.has("--title")) report.title = command.value("--title");
  return write_report(reporter, command.value("--html"), render_report_html(report)) ? 0 : 1;
}
