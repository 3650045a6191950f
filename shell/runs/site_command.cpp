#include "runs/site_command.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include "runs/gateway_status.h"

namespace {

QJsonDocument parsed(const std::string& text) { return QJsonDocument::fromJson(QByteArray::fromStdString(text)); }

std::string text_of(const QJsonObject& object, const char* name) {
  return object.value(name).toString().toStdString();
}

}  // namespace

std::vector<std::string> site_arguments(const std::string& command, const std::string& site,
                                        const std::vector<std::string>& words,
                                        const std::vector<std::string>& options) {
  std::vector<std::string> arguments{command};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.push_back("--");
  arguments.push_back(site);
  arguments.insert(arguments.end(), words.begin(), words.end());
  return arguments;
}

std::vector<std::string> recent_sites_with(std::vector<std::string> recent, const std::string& opened) {
  recent.erase(std::remove(recent.begin(), recent.end(), opened), recent.end());
  recent.insert(recent.begin(), opened);
  if (recent.size() > kRecentSites) recent.resize(kRecentSites);
  return recent;
}

SiteChange site_change(const std::string& site, const std::string& change) {
  const QJsonDocument document = parsed(change);
  const QJsonObject object = document.object();
  const std::string op = text_of(object, "op"), name = text_of(object, "name");
  if (!document.isObject() || name.empty()) return {{}, {}, "The change names no gateway."};
  // Values the page left out stay as they are; a present empty notes text clears the notes.
  std::vector<std::string> options;
  const auto option = [&](const char* key, const std::string& flag) {
    if (object.value(key).isString()) options.push_back(flag + "=" + text_of(object, key));
  };
  if (op == "add") {
    option("notes", "--notes");
    return {site_arguments("add", site, {name, text_of(object, "address")}, options), {}, {}};
  }
  if (op == "edit") {
    if (text_of(object, "new_name") != name) option("new_name", "--name");
    option("address", "--address");
    option("notes", "--notes");
    if (object.value("unpin").toBool()) options.push_back("--unpin");
    return {site_arguments("edit", site, {name}, options), {}, {}};
  }
  if (op == "remove") {
    const std::string file = site.substr(site.rfind('/') + 1);
    return {site_arguments("remove", site, {name}),
            "Remove the gateway " + name + " from the site file " + file +
                "?\n\nIts versions stay in the site's history.",
            {}};
  }
  if (op == "pin") return {site_arguments("pin", site, {name}), {}, {}};
  return {{}, {}, "Unknown change '" + op + "'."};
}

std::optional<SiteGateway> site_gateway(const std::string& list_document, const std::string& name) {
  for (const QJsonValue& value : parsed(list_document).object().value("gateways").toArray()) {
    const QJsonObject row = value.toObject();
    if (text_of(row, "name") == name)
      return SiteGateway{text_of(row, "address"), text_of(row, "model"), text_of(row, "serial"), text_of(row, "mac")};
  }
  return std::nullopt;
}

PinArguments gateway_pin_arguments(const std::string& name, const SiteGateway& gateway) {
  const std::string pin = gateway.model + "," + gateway.serial + "," + gateway.mac;
  if (pin == ",,") return {};
  if (std::count(pin.begin(), pin.end(), ',') != 2)
    return {{}, "The pin of " + name + " holds a comma, so the gateway cannot be checked against it. Nothing was run."};
  return {{"--gateway-pin=" + pin}, {}};
}

std::optional<std::vector<std::string>> report_names(const std::string& names) {
  const QJsonDocument document = parsed(names);
  if (!document.isArray()) return std::nullopt;
  std::vector<std::string> list;
  for (const QJsonValue& value : document.array()) {
    if (!value.isString() || value.toString().isEmpty()) return std::nullopt;
    list.push_back(value.toString().toStdString());
  }
  return list;
}

std::string pdf_path(const std::string& chosen) {
  return QString::fromStdString(chosen).endsWith(".pdf", Qt::CaseInsensitive) ? chosen : chosen + ".pdf";
}

PathDialog site_open_dialog() {
  return {"Choose a site file", {"Site files (*.csv)", "All files (*)"}, "site"};
}

PathDialog site_create_dialog() {
  return {"Create a site file", {"Site files (*.csv)", "All files (*)"}, "site", "site.csv", "csv"};
}

PathDialog report_dialog(const std::string& suggested_name) {
  return {"Save the handover report as PDF", {"PDF documents (*.pdf)", "All files (*)"}, "report",
          suggested_name + ".pdf", "pdf"};
}

PathDialog report_backup_dialog() {
  return {"Choose a backup for the handover report", {"Backups (*.zip *.tar)", "All files (*)"}, "backup"};
}

QByteArray site_error(const std::string& text) {
  return QJsonDocument(QJsonObject{{"error", QString::fromStdString(text)}}).toJson(QJsonDocument::Compact);
}

QByteArray site_answer(const QuietRun& run, int limit_ms) {
  if (!run.start_error.empty()) return site_error("varnu-site could not be started: " + run.start_error);
  if (run.timed_out)
    return site_error("varnu-site did not finish within " + std::to_string(limit_ms / 1000) + " s.");
  const QJsonDocument document = parsed(run.out);
  const bool answered = run.exit_code == 0 || run.exit_code == 1;
  if (document.isArray() && answered)
    return QJsonDocument(QJsonObject{{"gateways", document.array()}}).toJson(QJsonDocument::Compact);
  if (document.isObject() && (answered || (run.exit_code == 2 && document.object().contains("errors"))))
    return document.toJson(QJsonDocument::Compact);
  const std::string line = last_error_line(run.err);
  return site_error(line.empty() ? "varnu-site ended with exit status " + std::to_string(run.exit_code) + "." : line);
}

SiteRestorePlan read_site_restore_plan(const QuietRun& run) {
  const QJsonDocument document = parsed(run.out);
  if (!document.isObject() || run.timed_out || !run.start_error.empty()) {
    const std::string line = run.timed_out ? "the plan took too long" : last_error_line(run.err);
    return {{{}, line.empty() ? "varnu-site gave no plan" : line}, ""};
  }
  return {read_restore_plan(run.out), text_of(document.object(), "identity")};
}
