#include "site/changes.h"

#include <algorithm>

#include "json/json.h"
#include "util/text.h"

namespace {

// Changes listed per gateway before the rest are only counted.
constexpr std::size_t LISTED_CHANGES = 20;

// A JSON value as words: strings in single quotes (their bytes escaped, as
// they came from a gateway), everything else as written.
std::string value_words(const std::string& json) {
  if (json.empty() || json[0] != '"') return json;
  json::JsonReader reader;
  json::open_text(reader, json.c_str());
  std::string text = json::next_token(reader) == json::Token::String ? json::token_text(reader) : json;
  json::close(reader);
  return "'" + escape_bytes(text) + "'";
}

std::string channel_of(const std::string& configuration) {
  const std::size_t digit = configuration.find_first_of("1234");
  return digit == std::string::npos ? configuration : "channel " + configuration.substr(digit);
}

}  // namespace

BackupSet backup_set_of(const std::vector<FetchedArchive>& archives, const std::string& source) {
  BackupSet set;
  set.source = source;
  set.kind = "folder";
  for (const FetchedArchive& archive : archives)
    set.configurations.push_back(read_configuration_archive(archive.name + ".tar", archive.tar));
  fill_gateway(set);
  return set;
}

std::string describe_change(const std::string& configuration, const FieldChange& change) {
  std::string where = channel_of(configuration);
  if (change.section == "gear") where += " gear " + std::to_string(change.slot);
  if (change.section == "group") where += " group " + std::to_string(change.slot);
  if (change.section == "device") where += " input device " + std::to_string(change.slot);
  if (change.field == "name")
    return where + " renamed " + value_words(change.old_value) + " → " + value_words(change.new_value);
  return where + " " + change.field + " " + value_words(change.old_value) + " → " + value_words(change.new_value);
}

GatewayChanges compare_archives(const std::string& gateway, const std::vector<FetchedArchive>& before,
                                std::vector<FetchedArchive> now) {
  GatewayChanges result;
  if (before.empty()) {
    result.lines.push_back(gateway + ": first backup, " + std::to_string(now.size()) + " configurations");
    result.changed = std::move(now);
    return result;
  }
  const BackupDiff diff = diff_backups(backup_set_of(before, "history"), backup_set_of(now, "gateway"));
  std::vector<std::string> words;
  for (const ConfigurationDiff& c : diff.configurations) {
    if (c.state == "unchanged" || c.state == "removed") continue;
    const auto archive = std::find_if(now.begin(), now.end(), [&](const FetchedArchive& a) { return a.name == c.name; });
    if (archive == now.end()) continue;
    result.changed.push_back(std::move(*archive));
    if (c.state == "added") {
      words.push_back(c.name + " added");
    } else if (c.compared_as_records && !c.changes.empty()) {
      for (const FieldChange& change : c.changes) words.push_back(describe_change(c.name, change));
    } else {
      words.push_back(c.name + " changed, " + std::to_string(c.differing_bytes) + " bytes differ");
    }
  }
  for (std::size_t i = 0; i < words.size() && i < LISTED_CHANGES; ++i) result.lines.push_back(gateway + ": " + words[i]);
  if (words.size() > LISTED_CHANGES)
    result.lines.push_back(gateway + ": and " + std::to_string(words.size() - LISTED_CHANGES) + " more changes");
  return result;
}
