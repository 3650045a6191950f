#include "runs/confirmation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <fstream>
#include <map>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_archive.h"
#include "zip/zip.h"

namespace {

std::string known(const std::optional<std::string>& value) { return value && !value->empty() ? *value : "unknown"; }

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool differs(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  return a && b && !a->empty() && !b->empty() && *a != *b;
}

std::vector<std::string> version_parts(const std::string& version) {
  std::vector<std::string> parts;
  std::istringstream stream(version);
  for (std::string part; std::getline(stream, part, '.');) parts.push_back(part);
  return parts;
}

bool is_number(const std::string& text) {
  return !text.empty() && text.size() < 10 && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string gateway_line(const GatewayStatus& gateway) {
  if (!gateway.error.empty()) return "Gateway: its status could not be read (" + gateway.error + ")";
  return "Gateway: " + known(status_field(gateway, "model_name")) + ", serial number " +
         known(status_field(gateway, "serial_number")) + ", firmware " +
         known(status_field(gateway, "firmware_version"));
}

std::string counted(std::size_t count, const std::string& one) {
  return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

// The plan's refusals, those of records too new for the gateway's firmware told together per kind.
std::string refusals(const RestorePlan& plan, const std::optional<BackupOrigin>& origin) {
  std::map<std::pair<std::string, unsigned>, std::size_t> too_new;
  std::string others;
  std::size_t refused = 0;
  for (const PlannedConfiguration& configuration : plan.configurations) {
    if (configuration.outcome != "refused") continue;
    ++refused;
    unsigned from = 0, to = 0;
    if (std::sscanf(configuration.reason.c_str(), "record version %u cannot go down to version %u", &from, &to) == 2) {
      ++too_new[{configuration.name.rfind("cd", 0) == 0 ? "input-device record" : "channel record", to}];
    } else {
      others += "- " + configuration.name + ": " + configuration.reason + "\n";
    }
  }
  if (refused == 0) return {};
  std::string text = counted(refused, "configuration") + " of " + std::to_string(plan.configurations.size()) +
                     " would be refused:\n";
  const std::string upgrade = origin && origin->firmware_version && !origin->firmware_version->empty()
                                  ? "upgrade the gateway to " + *origin->firmware_version + " first"
                                  : "upgrade the gateway's firmware first";
  for (const auto& [kind, count] : too_new)
    text += "- " + counted(count, kind.first) + " cannot go down to version " + std::to_string(kind.second) + ": " +
            upgrade + "\n";
  return text + others + "\n";
}

std::string plan_counts(const RestorePlan& plan) {
  if (!plan.problem.empty()) return "\nWarning: what the restore would do is not known (" + plan.problem + ").";
  std::map<std::string, std::size_t> counts;
  for (const PlannedConfiguration& configuration : plan.configurations) ++counts[configuration.outcome];
  if (plan.configurations.empty()) return {};
  return "\nPlan: " + std::to_string(counts["unchanged"]) + " uploaded unchanged, " +
         std::to_string(counts["convert"]) + " converted, " + std::to_string(counts["refused"]) + " refused.";
}

}  // namespace

RestorePlan read_restore_plan(const std::string& document) {
  const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(document));
  if (!json.isObject() || !json.object().value("configurations").isArray())
    return {{}, "the console tool gave no plan"};
  RestorePlan plan;
  for (const QJsonValue& value : json.object().value("configurations").toArray()) {
    const QJsonObject item = value.toObject();
    plan.configurations.push_back({item.value("name").toString().toStdString(),
                                   item.value("outcome").toString().toStdString(),
                                   item.value("reason").toString().toStdString()});
  }
  return plan;
}

std::optional<BackupOrigin> read_backup_origin(const std::string& path) {
  FetchedConfiguration configuration;
  if (ZipArchiveHandle zip = zip_archive_open(path.c_str(), -1, 'r')) {
    bool taken = false;
    for_each_configuration_entry(zip.get(),
                                 [&](const ConfigurationEntry&, EntryRead read, const std::vector<uint8_t>& bytes) {
                                   if (taken || read != EntryRead::Read) return;
                                   configuration.buffer.data = bytes;
                                   taken = true;
                                 });
    zip_archive_close(std::move(zip));
  } else {
    configuration.buffer.data = file_bytes(path);
  }
  // The check reports what it reads as the console tool would; the window only wants the values.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::tmpfile(), std::fclose);
  if (!sink || configuration.buffer.data.empty() ||
      check_configuration_archive(Reporter{sink.get(), sink.get()}, &configuration) != ArchiveCheck::Passed)
    return std::nullopt;
  return BackupOrigin{configuration.model_name, configuration.firmware_version, configuration.serial_number};
}

std::optional<FirmwareInfo> read_package_info(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
  FirmwareImage image;
  image.path = path;
  if (extension == "bin") {
    const std::vector<uint8_t> package = file_bytes(path);
    std::optional<FirmwareDigest> expected;
    if (!read_firmware_package_bytes(package.data(), package.size(), &image, &expected).ok()) return std::nullopt;
  } else if (extension == "binary") {
    read_firmware_raw(&image);
  } else {
    return std::nullopt;
  }
  FirmwareInfo info;
  if (!read_firmware_info(image.data.data(), image.size(), &info).ok()) return std::nullopt;
  return info;
}

Confirmation restore_confirmation(const std::string& file, const std::optional<BackupOrigin>& origin,
                                  const std::string& address, const GatewayStatus& gateway,
                                  const RestorePlan& plan) {
  const std::string refused = refusals(plan, origin);
  std::string text = refused + "Restore " + file + " onto the gateway at " + address + "?\n\n" +
                     gateway_line(gateway) + ".\n";
  if (!origin) return {false, true, text + "\nWarning: the backup's status.txt could not be read.\n" + plan_counts(plan)};
  text += "Backup: from " + known(origin->model_name) + ", serial number " + known(origin->serial_number) +
          ", firmware " + known(origin->firmware_version) + ".\n";
  const bool other_model = differs(origin->model_name, status_field(gateway, "model_name"));
  const bool other_serial = differs(origin->serial_number, status_field(gateway, "serial_number"));
  if (other_model) text += "\nWarning: this backup comes from another model (" + *origin->model_name + ").";
  if (other_serial)
    text += "\nWarning: this backup comes from another gateway (serial number " + *origin->serial_number + ").";
  return {false, other_model || other_serial || !refused.empty() || !plan.problem.empty(), text + plan_counts(plan)};
}

Confirmation history_restore_confirmation(const std::string& what, const std::string& address,
                                          const GatewayStatus& gateway, const RestorePlan& plan,
                                          const std::string& identity) {
  std::string text;
  if (identity == "not pinned") {
    text = "Warning: the gateway is not pinned: nothing checks that the one at " + address + " is the right one.\n\n";
  } else if (identity != "ok") {
    text = "Warning: not the pinned gateway (" + (identity.empty() ? std::string("its identity is unknown") : identity) +
           "). The restore will be refused.\n\n";
  }
  const std::string refused = refusals(plan, std::nullopt);
  text += refused + "Restore " + what + " onto the gateway at " + address + "?\n\n" + gateway_line(gateway) + ".\n" +
          plan_counts(plan);
  return {false, identity != "ok" || !refused.empty() || !plan.problem.empty(), text};
}

Confirmation upgrade_confirmation(const std::string& file, const std::optional<FirmwareInfo>& package,
                                  const std::string& address, const GatewayStatus& gateway) {
  const std::optional<std::string> model = status_field(gateway, "model_name");
  const std::optional<std::string> firmware = status_field(gateway, "firmware_version");
  if (package && model && package->model_name != *model) {
    return {true, true,
            file + " is firmware for " + package->model_name + ", but the gateway at " + address + " is a " + *model +
                ". Nothing was sent."};
  }
  std::string text = "Upgrade the gateway at " + address + " with " + file + "?\n\n";
  if (!package) {
    return {false, true, text + gateway_line(gateway) + ".\n\nWarning: the package's information block could not be read.\n"};
  }
  text += "Package: " + package->model_name + ", version " + package->version_string + " of " +
          package->version_date + ".\n" + gateway_line(gateway) + ".\n";
  const int order = firmware && !firmware->empty() ? compare_versions(package->version_string, *firmware) : 1;
  if (order < 0) text += "\nWarning: this is older than the gateway's firmware " + *firmware + " (a downgrade).";
  if (order == 0) text += "\nWarning: the gateway already runs version " + *firmware + ".";
  text += "\n\nKeep the gateway powered: it installs the firmware and restarts. The run waits until it answers "
          "with the new version (at most 10 minutes).";
  return {false, order <= 0, text};
}

std::optional<std::size_t> csv_rows(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::size_t rows = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.find_first_not_of(" \t\r") != std::string::npos && line[0] != '#') ++rows;
  }
  return rows;
}

Confirmation setup_confirmation(const std::string& file, const std::optional<std::size_t>& rows,
                                const ChannelChoice& choice, const std::string& address, const GatewayStatus& gateway) {
  const std::string channel = std::to_string(choice.channel);
  const std::string what = choice.kind == "inputs"   ? "input devices"
                           : choice.kind == "groups" ? "group names"
                                                     : "DALI gear";
  std::string text = "Set up channel " + channel + " of the gateway at " + address + " from " + file + "?\n\n" +
                     gateway_line(gateway) + ".\n\nThis replaces all " + what + " of channel " + channel +
                     " on the gateway with " + (rows ? counted(*rows, "row") : "the rows") + " of the file.";
  if (!rows) return {false, true, text + "\n\nWarning: the file could not be read."};
  if (*rows == 0) return {false, true, text + "\n\nWarning: the file has no rows: the channel would be left empty."};
  return {false, false, text};
}

int compare_versions(const std::string& a, const std::string& b) {
  const std::vector<std::string> left = version_parts(a), right = version_parts(b);
  for (std::size_t i = 0; i < left.size() || i < right.size(); ++i) {
    const std::string l = i < left.size() ? left[i] : "0", r = i < right.size() ? right[i] : "0";
    const int order = is_number(l) && is_number(r) ? std::stoi(l) - std::stoi(r) : l.compare(r);
    if (order != 0) return order < 0 ? -1 : 1;
  }
  return 0;
}
