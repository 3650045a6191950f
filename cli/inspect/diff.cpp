// Differences between two backup sets: configurations matched by name,
// records compared field by field once both are in the newer version.
#include <algorithm>
#include <map>

#include "backup/backup.h"
#include "inspect/fields.h"
#include "inspect/inspect.h"
#include "inspect/json_writer.h"
#include "records/decode.h"
#include "util/text.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Versions 0 and 1 share one layout: both count as 1 here.
uint32_t layout_version(bool channel, uint32_t version) { return channel && version == 0 ? 1 : version; }

// The record brought up to `target` with the conversions restore uses; empty
// when no conversion leads there.
Bytes converted(bool channel, const Bytes& record, uint32_t from, uint32_t target) {
  Bytes out;
  if (from == target) return record;
  if (channel && from == 1 && target == 2) convert_channel_1_to_2(record.data(), record.size(), &out);
  if (channel && from == 1 && target == 3) convert_channel_1_to_3(record.data(), record.size(), &out);
  if (channel && from == 2 && target == 3) convert_channel_2_to_3(record.data(), record.size(), &out);
  if (!channel && from == 2 && target == 3) convert_input_2_to_3(record.data(), record.size(), &out);
  return out;
}

// Bytes at which the two differ, a longer side's surplus included; bytes
// marked in `skip` are not counted.
uint64_t count_differing(const Bytes& a, const Bytes& b, const std::vector<bool>& skip = {}) {
  const std::size_t common = std::min(a.size(), b.size());
  uint64_t count = std::max(a.size(), b.size()) - common;
  for (std::size_t i = 0; i < common; ++i) count += a[i] != b[i] && (i >= skip.size() || !skip[i]);
  return count;
}

void compare_fields(const char* section, int slot, const std::vector<SlotField>& before,
                    const std::vector<SlotField>& after, std::vector<FieldChange>& changes) {
  std::map<std::string, std::string> old_values;
  for (const SlotField& f : before) old_values[f.name] = f.json;
  for (const SlotField& f : after) {
    const auto old = old_values.find(f.name);
    const std::string old_json = old == old_values.end() ? "null" : old->second;
    if (old_json != f.json) changes.push_back({section, slot, f.name, old_json, f.json});
    if (old != old_values.end()) old_values.erase(old);
  }
  // Fields only the old slot has (instances beyond the new one's last).
  for (const SlotField& f : before)
    if (old_values.count(f.name)) changes.push_back({section, slot, f.name, f.json, "null"});
}

template <class Slots, class Fields>
void compare_slots(const char* section, const Slots& before, const Slots& after, Fields fields,
                   std::vector<FieldChange>& changes) {
  for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
    compare_fields(section, static_cast<int>(i), fields(before[i]), fields(after[i]), changes);
}

void compare_import_tag(uint32_t before, uint32_t after, std::vector<FieldChange>& changes) {
  if (before != after) changes.push_back({"record", -1, "import_tag", std::to_string(before), std::to_string(after)});
}

// Field changes of two records of one kind and version; false when either does not decode.
bool compare_records(bool channel, const Bytes& before, const Bytes& after, std::vector<FieldChange>& changes) {
  if (channel) {
    const ChannelView a = decode_channel_record(before), b = decode_channel_record(after);
    if (!a.problem.empty() || !b.problem.empty()) return false;
    compare_import_tag(a.import_tag, b.import_tag, changes);
    compare_slots("gear", a.gear, b.gear, gear_fields, changes);
    compare_slots("group", a.groups, b.groups, group_fields, changes);
  } else {
    const InputView a = decode_input_record(before), b = decode_input_record(after);
    if (!a.problem.empty() || !b.problem.empty()) return false;
    compare_import_tag(a.import_tag, b.import_tag, changes);
    compare_slots("device", a.devices, b.devices, device_fields, changes);
  }
  return true;
}

// Compares two records after bringing the older one to the newer version.
// Bytes the fields cover are judged by the fields (the no-address byte, for
// one, differs between layouts without meaning anything); the carried bytes
// around them are counted. Headers are left out: a conversion rewrites them.
bool compare_as_records(const BackupConfiguration& a, const BackupConfiguration& b, ConfigurationDiff& diff) {
  const bool channel = is_channel_record(a);
  const uint32_t from = layout_version(channel, *diff.old_version), to = layout_version(channel, *diff.new_version);
  const uint32_t target = std::max(from, to);
  const Bytes before = converted(channel, a.data, from, target), after = converted(channel, b.data, to, target);
  if (before.size() < RecordHeader::SIZE || after.size() < RecordHeader::SIZE) return false;
  std::vector<FieldChange> changes;
  if (!compare_records(channel, before, after, changes)) return false;
  const std::vector<bool> fields = channel ? channel_field_bytes(*channel_layout(target))
                                           : input_field_bytes(target == INPUT_V3.version ? INPUT_V3 : INPUT_V2);
  diff.changes = std::move(changes);
  diff.differing_bytes = count_differing(before, after, fields);
  diff.compared_as_records = true;
  return true;
}

// Bytes at which two files too large to be kept differ: the older one read
// whole (within the entry limit), the newer one compared piece by piece as
// it is read, so that no more than one is ever held.
uint64_t count_differing_again(const BackupSet& old_set, const BackupConfiguration& a, const BackupSet& new_set,
                               const BackupConfiguration& b) {
  const BackupConfiguration before = read_configuration_again(old_set, a, BACKUP_ENTRY_LIMIT);
  uint64_t at = 0, count = 0;
  const BackupConfiguration after =
      read_configuration_again(new_set, b, 0, [&](std::span<const uint8_t> piece) {
        for (const uint8_t byte : piece) {
          count += at >= before.data.size() || before.data[at] != byte;
          ++at;
        }
      });
  if (!before.problem.empty() || !after.problem.empty()) return std::max(a.size, b.size);
  return count + (before.data.size() > at ? before.data.size() - at : 0);
}

ConfigurationDiff compare_configurations(const BackupSet& old_set, const BackupConfiguration& a,
                                         const BackupSet& new_set, const BackupConfiguration& b) {
  ConfigurationDiff diff;
  diff.name = a.name;
  diff.old_version = record_version(a);
  diff.new_version = record_version(b);
  const bool readable = a.problem.empty() && b.problem.empty();
  const bool records = diff.old_version && diff.new_version && a.entry == b.entry && readable;
  if (readable && (!a.kept || !b.kept))
    diff.differing_bytes = count_differing_again(old_set, a, new_set, b);
  else if (!records || !compare_as_records(a, b, diff))
    diff.differing_bytes = count_differing(a.data, b.data);
  // A conversion fills carried bytes from other fields of the old layout (the
  // version-1 type byte stays behind at offset 42, for one): after it only the
  // fields tell whether the configuration changed.
  const bool converted = diff.compared_as_records && diff.old_version != diff.new_version;
  const bool same = diff.changes.empty() && (converted || diff.differing_bytes == 0) && a.problem == b.problem;
  diff.state = same ? "unchanged" : "changed";
  return diff;
}

// A configuration that only one of the sets holds.
ConfigurationDiff one_sided(const BackupConfiguration& c, const char* state) {
  ConfigurationDiff diff;
  diff.name = c.name;
  diff.state = state;
  (diff.state == "added" ? diff.new_version : diff.old_version) = record_version(c);
  return diff;
}

std::string optional_json(const std::optional<std::string>& value) { return value ? json_quote(*value) : "null"; }

void compare_gateways(const GatewayInfo& a, const GatewayInfo& b, std::vector<FieldChange>& changes) {
  const std::pair<const char*, std::optional<std::string> GatewayInfo::*> fields[] = {
      {"model_name", &GatewayInfo::model_name},
      {"firmware_version", &GatewayInfo::firmware_version},
      {"serial_number", &GatewayInfo::serial_number},
      {"mac", &GatewayInfo::mac},
  };
  for (const auto& [name, member] : fields)
    if (a.*member != b.*member)
      changes.push_back({"gateway", -1, name, optional_json(a.*member), optional_json(b.*member)});
}

const BackupConfiguration* find_by_name(const BackupSet& set, const std::string& name) {
  for (const BackupConfiguration& c : set.configurations)
    if (c.name == name) return &c;
  return nullptr;
}

std::string change_line(const FieldChange& c) {
  std::string where =
      c.section == "record" || c.section == "gateway" ? c.section : c.section + " " + std::to_string(c.slot);
  return "  " + where + " " + c.field + ": " + c.old_value + " -> " + c.new_value + "\n";
}

std::string version_text(const std::optional<uint32_t>& version) { return version ? std::to_string(*version) : "none"; }

void write_optional_number(JsonWriter& w, const char* key, const std::optional<uint32_t>& value) {
  json_key(w, key);
  if (value) {
    json_number(w, *value);
  } else {
    json_null(w);
  }
}

void write_change(JsonWriter& w, const FieldChange& c) {
  json_begin_object(w);
  json_key(w, "section");
  json_string(w, c.section);
  json_key(w, "slot");
  if (c.slot < 0) {
    json_null(w);
  } else {
    json_number(w, c.slot);
  }
  json_key(w, "field");
  json_string(w, c.field);
  json_key(w, "old");
  json_raw(w, c.old_value);
  json_key(w, "new");
  json_raw(w, c.new_value);
  json_end_object(w);
}

}  // namespace

BackupDiff diff_backups(const BackupSet& old_set, const BackupSet& new_set) {
  BackupDiff diff;
  diff.old_source = old_set.source;
  diff.new_source = new_set.source;
  compare_gateways(old_set.gateway, new_set.gateway, diff.gateway);
  for (const BackupConfiguration& a : old_set.configurations) {
    if (const BackupConfiguration* b = find_by_name(new_set, a.name)) {
      diff.configurations.push_back(compare_configurations(old_set, a, new_set, *b));
    } else {
      diff.configurations.push_back(one_sided(a, "removed"));
    }
  }
  for (const BackupConfiguration& b : new_set.configurations)
    if (!find_by_name(old_set, b.name)) diff.configurations.push_back(one_sided(b, "added"));
  diff.different = std::any_of(diff.configurations.begin(), diff.configurations.end(),
                               [](const ConfigurationDiff& c) { return c.state != "unchanged"; });
  return diff;
}

std::string render_diff_text(const BackupDiff& diff) {
  std::string gateway;
  for (const FieldChange& change : diff.gateway) gateway += change_line(change);
  if (!diff.different) {
    if (gateway.empty()) return "no differences\n";
    return "The gateways differ, their configurations do not:\n" + gateway + "no differences\n";
  }
  std::string out = "Comparing " + diff.old_source + "\n     with " + diff.new_source + "\n" + gateway;
  std::size_t unchanged = 0;
  for (const ConfigurationDiff& c : diff.configurations) {
    if (c.state == "unchanged") {
      ++unchanged;
      if (c.differing_bytes)
        out += "converted " + escape_bytes(c.name) + ": fields the same, " + std::to_string(c.differing_bytes) +
               " carried bytes differ\n";
      continue;
    }
    out += c.state + " " + escape_bytes(c.name);
    if (c.old_version || c.new_version)
      out += " (record version " + version_text(c.old_version) + " -> " + version_text(c.new_version) + ")";
    if (c.state == "changed" && c.compared_as_records) {
      out += ": " + std::to_string(c.changes.size()) + " fields";
      if (c.differing_bytes) out += ", " + std::to_string(c.differing_bytes) + " carried bytes";
    } else if (c.state == "changed") {
      out += ": " + std::to_string(c.differing_bytes) + " bytes differ";
    }
    out += "\n";
    for (const FieldChange& change : c.changes) out += change_line(change);
  }
  return out + std::to_string(unchanged) + " unchanged\n";
}

std::string render_diff_json(const BackupDiff& diff) {
  JsonWriter w;
  json_begin_object(w);
  json_key(w, "old");
  json_string(w, diff.old_source);
  json_key(w, "new");
  json_string(w, diff.new_source);
  json_key(w, "different");
  json_bool(w, diff.different);
  json_key(w, "gateway");
  json_begin_array(w);
  for (const FieldChange& change : diff.gateway) write_change(w, change);
  json_end_array(w);
  json_key(w, "configurations");
  json_begin_array(w);
  for (const ConfigurationDiff& c : diff.configurations) {
    json_begin_object(w);
    json_key(w, "name");
    json_string(w, c.name);
    json_key(w, "state");
    json_string(w, c.state);
    write_optional_number(w, "old_version", c.old_version);
    write_optional_number(w, "new_version", c.new_version);
    json_key(w, "compared_as_records");
    json_bool(w, c.compared_as_records);
    json_key(w, "differing_bytes");
    json_number(w, static_cast<int64_t>(c.differing_bytes));
    json_key(w, "changes");
    json_begin_array(w);
    for (const FieldChange& change : c.changes) write_change(w, change);
    json_end_array(w);
    json_end_object(w);
  }
  json_end_array(w);
  json_end_object(w);
  return w.out + "\n";
}
