// The decoded view of a backup set, as aligned text and as JSON.
#include <cstdio>

#include "backup/backup.h"
#include "inspect/fields.h"
#include "inspect/inspect.h"
#include "util/json_writer.h"
#include "records/decode.h"
#include "util/text.h"

namespace {

constexpr std::size_t GEAR_NAME_WIDTH = GearEntry::NAME_SIZE - 1;
constexpr std::size_t DEVICE_NAME_WIDTH = InputDeviceEntry::NAME_SIZE - 1;
constexpr std::size_t TYPES_WIDTH = 5;
constexpr std::size_t INSTANCES_WIDTH = 54;  // what is left of 80 columns beside slot, address and name

// Text from a record or status.txt made safe for the console (escape_bytes);
// `width` receives the number of characters shown.
std::string printable(const std::string& text, std::size_t* width) {
  std::string out = escape_bytes(text);
  *width = 0;
  for (std::size_t i = 0; i < out.size(); ++(*width)) i += std::max<std::size_t>(1, utf8_character_length(out, i));
  return out;
}

// `text` padded with blanks to `width` characters.
std::string cell(const std::string& text, std::size_t width) {
  std::size_t shown = 0;
  std::string out = printable(text, &shown);
  if (shown < width) out.append(width - shown, ' ');
  return out;
}

std::string format(const char* pattern, auto... values) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

std::string address_text(const std::optional<uint8_t>& address) { return address ? std::to_string(*address) : "-"; }

// Group g shows as its hexadecimal digit when the gear belongs to it, else '.'.
std::string group_map(uint16_t mask) {
  std::string map(16, '.');
  for (unsigned g = 0; g < 16; ++g)
    if (mask & 1u << g) map[g] = "0123456789ABCDEF"[g];
  return map;
}

std::string types_text(const std::vector<uint8_t>& types) {
  std::string out;
  for (uint8_t t : types) out += (out.empty() ? "" : ",") + std::to_string(t);
  return out.empty() ? "-" : out;
}

// "4: 3 push button, 1 light", cut to the column's width.
std::string instances_text(const InputDevice& device) {
  const std::string kinds = instance_summary(device);
  std::string out = std::to_string(device.instance_count) + (kinds.empty() ? "" : ": " + kinds);
  if (out.size() > INSTANCES_WIDTH) out = out.substr(0, INSTANCES_WIDTH - 3) + "...";
  return out;
}

void render_gateway(std::string& out, const GatewayInfo& g) {
  const auto line = [&out](const char* label, const std::optional<std::string>& value) {
    std::size_t width = 0;
    out += format("  %-10s", label) + (value ? printable(*value, &width) : "(unknown)") + "\n";
  };
  out += "Gateway\n";
  line("Model", g.model_name);
  line("Firmware", g.firmware_version);
  line("Serial", g.serial_number);
  line("MAC", g.mac);
  if (!g.problem.empty()) out += "  " + g.problem + "\n";
}

void render_configuration_list(std::string& out, const BackupSet& set) {
  out += format("\nConfigurations (%zu)\n", set.configurations.size());
  out += "  Name             File bytes  Record\n";
  for (const BackupConfiguration& c : set.configurations) {
    std::string line = "  " + cell(c.name, 16) + " ";
    if (!c.problem.empty()) {
      line += cell("", 10) + "  " + c.problem;
    } else {
      line += format("%10llu", static_cast<unsigned long long>(c.size));
      if (const auto version = record_version(c)) line += format("  version %u", *version);
    }
    out += line + "\n";
  }
}

void render_channel(std::string& out, const BackupConfiguration& c, const ChannelView& view) {
  std::size_t in_use = 0;
  for (const GearSlot& gear : view.gear) in_use += gear.in_use();
  out += format("\nChannel %u (%s, record version %u): %zu gear in use\n", record_channel(c), c.name.c_str(),
                view.header.version, in_use);
  if (in_use)
    out += " #  Adr " + cell("Name", GEAR_NAME_WIDTH) + " " + cell("Types", TYPES_WIDTH) + " Groups           Levels\n";
  for (const GearSlot& gear : view.gear) {
    if (!gear.in_use()) continue;
    out += format("%2u %4s ", gear.slot, address_text(gear.short_address).c_str()) +
           cell(gear.name.text, GEAR_NAME_WIDTH) + " " + cell(types_text(gear.device_types()), TYPES_WIDTH) + " " +
           group_map(gear.groups) +
           format(" %3u %3u %3u %3u\n", gear.levels[0], gear.levels[1], gear.levels[2], gear.levels[3]);
  }
  std::string groups;
  for (const GroupSlot& group : view.groups) {
    if (group.in_use()) groups += format("  %2u ", group.slot) + cell(group.name.text, 0) + "\n";
  }
  out += groups.empty() ? "  No group names\n" : "  Group names\n" + groups;
}

void render_inputs(std::string& out, const BackupConfiguration& c, const InputView& view) {
  std::size_t in_use = 0;
  for (const InputDevice& device : view.devices) in_use += device.in_use();
  out += format("\nChannel %u input devices (%s, record version %u): %zu in use\n", record_channel(c), c.name.c_str(),
                view.header.version, in_use);
  if (in_use) out += " #  Adr " + cell("Name", DEVICE_NAME_WIDTH) + " Instances\n";
  for (const InputDevice& device : view.devices) {
    if (!device.in_use()) continue;
    out += format("%2u %4s ", device.slot, address_text(device.short_address).c_str()) +
           cell(device.name.text, DEVICE_NAME_WIDTH) + " " + instances_text(device) + "\n";
  }
}

// Why a record that was not kept is not shown.
std::string not_kept(const BackupConfiguration& c) {
  return "record of " + std::to_string(c.size) + " bytes is larger than any record layout";
}

void render_record_text(std::string& out, const BackupConfiguration& c) {
  if (!c.problem.empty() || !record_channel(c)) return;
  std::string problem;
  if (!c.kept) {
    problem = not_kept(c);
  } else if (is_channel_record(c)) {
    const ChannelView view = decode_channel_record(c.data);
    if (view.problem.empty()) return render_channel(out, c, view);
    problem = view.problem;
  } else {
    const InputView view = decode_input_record(c.data);
    if (view.problem.empty()) return render_inputs(out, c, view);
    problem = view.problem;
  }
  out += "\n" + c.name + ": " + problem + "\n";
}

// ---- JSON -------------------------------------------------------------------

void write_optional(JsonWriter& w, const char* key, const std::optional<std::string>& value) {
  json_key(w, key);
  if (value) {
    json_string(w, *value);
  } else {
    json_null(w);
  }
}

void write_problem(JsonWriter& w, const std::string& problem) {
  json_key(w, "problem");
  if (problem.empty()) {
    json_null(w);
  } else {
    json_string(w, problem);
  }
}

void write_gateway(JsonWriter& w, const GatewayInfo& g) {
  json_begin_object(w);
  write_optional(w, "model_name", g.model_name);
  write_optional(w, "firmware_version", g.firmware_version);
  write_optional(w, "serial_number", g.serial_number);
  write_optional(w, "mac", g.mac);
  write_optional(w, "problem", g.problem.empty() ? std::nullopt : std::optional(g.problem));
  json_end_object(w);
}

// The slot's fields as members; instances of an input device go into "instances".
void write_slot(JsonWriter& w, const char* slot_key, uint32_t slot, const std::vector<SlotField>& fields) {
  json_begin_object(w);
  json_key(w, slot_key);
  json_number(w, slot);
  bool instances = false;
  for (const SlotField& field : fields) {
    if (field.instance && !instances) {
      json_key(w, "instances");
      json_begin_array(w);
      instances = true;
    }
    if (!field.instance) json_key(w, field.name);
    json_raw(w, field.json);
  }
  if (instances) json_end_array(w);
  json_end_object(w);
}

void write_header(JsonWriter& w, const char* kind, const RecordHeader& header, uint32_t import_tag) {
  json_key(w, "kind");
  json_string(w, kind);
  json_key(w, "version");
  json_number(w, header.version);
  json_key(w, "change_count");
  json_number(w, header.change_count);
  json_key(w, "import_tag");
  json_number(w, import_tag);
}

template <class Slots, class Fields>
void write_slots(JsonWriter& w, const char* key, const char* slot_key, const Slots& slots, Fields fields) {
  json_key(w, key);
  json_begin_array(w);
  for (const auto& slot : slots)
    if (slot.in_use()) write_slot(w, slot_key, slot.slot, fields(slot));
  json_end_array(w);
}

void write_record(JsonWriter& w, const BackupConfiguration& c) {
  json_key(w, "record");
  json_begin_object(w);
  if (!c.kept) {
    write_problem(w, not_kept(c));
  } else if (is_channel_record(c)) {
    const ChannelView view = decode_channel_record(c.data);
    write_problem(w, view.problem);
    if (view.problem.empty()) {
      write_header(w, "channel", view.header, view.import_tag);
      write_slots(w, "gear", "slot", view.gear, gear_fields);
      write_slots(w, "groups", "group", view.groups, group_fields);
    }
  } else {
    const InputView view = decode_input_record(c.data);
    write_problem(w, view.problem);
    if (view.problem.empty()) {
      write_header(w, "inputs", view.header, view.import_tag);
      write_slots(w, "devices", "slot", view.devices, device_fields);
    }
  }
  json_end_object(w);
}

void write_configuration(JsonWriter& w, const BackupConfiguration& c) {
  json_begin_object(w);
  json_key(w, "name");
  json_string(w, c.name);
  json_key(w, "archive_size");
  json_number(w, static_cast<int64_t>(c.archive_size));
  json_key(w, "size");
  json_number(w, static_cast<int64_t>(c.size));
  json_key(w, "record_version");
  if (const auto version = record_version(c)) {
    json_number(w, *version);
  } else {
    json_null(w);
  }
  write_problem(w, c.problem);
  if (const unsigned channel = record_channel(c); channel && c.problem.empty()) {
    json_key(w, "channel");
    json_number(w, channel);
    write_record(w, c);
  }
  json_end_object(w);
}

}  // namespace

std::string render_show_text(const BackupSet& set) {
  std::string out = "Backup " + set.source + " (" + (set.kind.empty() ? "unread" : set.kind) + ")\n";
  if (!set.problem.empty()) return out + "  " + set.problem + "\n";
  if (set.manifest && !set.manifest->missing.empty()) out += incomplete_text(*set.manifest) + "\n";
  render_gateway(out, set.gateway);
  render_configuration_list(out, set);
  for (const BackupConfiguration& c : set.configurations) render_record_text(out, c);
  return out;
}

std::string render_show_json(const BackupSet& set) {
  JsonWriter w;
  json_begin_object(w);
  json_key(w, "source");
  json_string(w, set.source);
  json_key(w, "kind");
  json_string(w, set.kind);
  write_problem(w, set.problem);
  // Known only from a backup's manifest: null for backups without one.
  json_key(w, "complete");
  set.manifest ? json_bool(w, set.manifest->missing.empty()) : json_null(w);
  json_key(w, "missing");
  set.manifest ? write_missing_json(w, set.manifest->missing) : json_null(w);
  json_key(w, "gateway");
  write_gateway(w, set.gateway);
  json_key(w, "configurations");
  json_begin_array(w);
  for (const BackupConfiguration& c : set.configurations) write_configuration(w, c);
  json_end_array(w);
  json_end_object(w);
  return w.out + "\n";
}
