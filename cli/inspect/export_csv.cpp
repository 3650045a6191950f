// CSV files made from records, in the formats the imports read. Each value is
// written the way the import reads it back; where the import cannot set what
// the record holds, the nearest value it takes is written and a note says so.
#include <algorithm>
#include <cstdio>

#include "import/csv_cells.h"
#include "import/csv_formats.h"
#include "inspect/fields.h"
#include "inspect/inspect.h"
#include "records/decode.h"

namespace {

using namespace csv_format;

const char* const CHANNEL_COLUMN_NAMES =
    "# tag,slot,short address,name,groups,level 1,level 2,level 3,level 4,fade rate,fade time,scenes\n";
const char* const GROUP_COLUMN_NAMES = "# unused,group,name\n";
const char* const INPUT_COLUMN_NAMES =
    "# tag,slot,short address,name,flags,instance count,instance types,instance values,device setting,"
    "push button 0,push button 1,push button 2,push button 3,push button 4,push button 5,"
    "occupancy 1,occupancy 2,occupancy 3,light 1,light 2\n";

// A field in double quotes, inner quotes doubled: commas, quotes and line
// breaks stay inside, and blanks around it are kept.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string hex(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%X", value);
  return buffer;
}

std::string title(const char* header, const char* columns) {
  return std::string(header) + std::to_string(FILE_VERSION) + "\n" + columns;
}

struct Row {
  std::vector<std::string> cells;
  void add(std::string cell) { cells.push_back(std::move(cell)); }
  std::string line() const {
    std::string out;
    for (std::size_t i = 0; i < cells.size(); ++i) out += (i ? "," : "") + cells[i];
    return out + "\n";
  }
};

// A name cell. A name whose field holds bytes behind its end, or that starts
// with '#' (the import takes such a row for a comment), cannot come back as it is.
std::string name_cell(const NameField& name, int slot, std::vector<ExportNote>& notes) {
  if (!name.clean) notes.push_back({slot, "name", "bytes behind the name's end", "the name only"});
  if (!name.text.empty() && name.text[0] == '#') {
    notes.push_back({slot, "name", name.text, " " + name.text});
    return quoted(" " + name.text);
  }
  return quoted(name.text);
}

// An array cell of `count` bytes; trailing `none` values are left out (the
// import fills missing elements with it) and `none` inside is written as null.
std::string array_cell(const uint8_t* bytes, std::size_t count, int none) {
  while (count > 0 && bytes[count - 1] == none) --count;
  return quoted(json_byte_array(bytes, count, none == 0 ? -1 : none));
}

// The address cell that gives back the stored address byte and flag bit 0.
// `null_restores` tells whether "null" gives back this slot's no-address state.
std::string address_cell(const std::optional<uint8_t>& address, bool null_restores, bool keep_restores, int slot,
                         uint32_t flags, uint8_t address_byte, std::vector<ExportNote>& notes) {
  if (address) return std::to_string(*address);
  if (null_restores) return "null";
  // A value above the DALI addresses leaves address byte and flag as the record
  // it is imported onto has them.
  if (!keep_restores)
    notes.push_back({slot, "short address",
                     "byte " + std::to_string(address_byte) + ", flag bit 0 " + std::to_string(flags & 1),
                     std::to_string(ADDRESS_KEEP) + " (keeps the address of the record imported onto)"});
  return std::to_string(ADDRESS_KEEP);
}

void note_marker(uint8_t marker, int slot, std::vector<ExportNote>& notes) {
  if (marker != 255) notes.push_back({slot, "imported mark", std::to_string(marker), "255"});
}

std::string channel_row(const ChannelView& view, const GearSlot& gear, std::vector<ExportNote>& notes) {
  const int slot = static_cast<int>(gear.slot);
  const uint32_t version = view.layout->version;
  const bool addressed = gear.flags & GearEntry::FLAG_ADDRESSED;
  // How each layout records "no address" (the import's null).
  const bool null_restores = version == 3   ? !addressed && gear.address_byte == ADDRESS_NULL
                             : version == 2 ? !addressed && gear.address_byte == 0
                                            : !addressed && gear.extra_block_clear;
  Row row;
  row.add(std::to_string(version == 3 ? view.import_tag : 0));
  row.add(std::to_string(gear.slot));
  row.add(address_cell(gear.short_address, null_restores, false, slot, gear.flags, gear.address_byte, notes));
  row.add(name_cell(gear.name, slot, notes));
  std::string groups = "[";
  for (unsigned g : group_numbers(gear.groups)) groups += (groups.size() > 1 ? "," : "") + std::to_string(g);
  row.add(quoted(groups + "]"));

  // The import marks a gear with bit 1, or with bit 3 instead when level 1 reads "false".
  const bool imported = gear.flags & GearEntry::FLAG_IMPORTED, off = gear.flags & GearEntry::FLAG_IMPORTED_OFF;
  const bool write_false = off && !imported && gear.levels[0] == FALSE_LEVEL;
  // The import sets its bit on the flags it finds, so a bit already there is no change.
  const uint32_t result = gear.flags | (write_false ? GearEntry::FLAG_IMPORTED_OFF : GearEntry::FLAG_IMPORTED);
  if (result != gear.flags) notes.push_back({slot, "flags", hex(gear.flags), hex(result)});
  row.add(write_false ? "false" : gear.levels[0] == LEVEL_NONE ? "null" : std::to_string(gear.levels[0]));
  row.add(gear.levels[1] == LEVEL_NONE ? "null" : std::to_string(gear.levels[1]));
  row.add(std::to_string(gear.levels[2]));
  row.add(std::to_string(gear.levels[3]));
  const uint8_t rate = std::clamp(gear.fade_rate, MIN_FADE_RATE, MAX_FADE);
  const uint8_t time = std::min(gear.fade_time, MAX_FADE);
  if (rate != gear.fade_rate)
    notes.push_back({slot, "fade rate", std::to_string(gear.fade_rate), std::to_string(rate)});
  if (time != gear.fade_time)
    notes.push_back({slot, "fade time", std::to_string(gear.fade_time), std::to_string(time)});
  row.add(std::to_string(rate));
  row.add(std::to_string(time));
  row.add(array_cell(gear.scenes.data(), gear.scenes.size(), LEVEL_NONE));
  note_marker(gear.marker, slot, notes);
  // Version 3: the import clears the device type and the byte after it.
  if (version == 3 && std::any_of(gear.type_bytes.begin(), gear.type_bytes.end(), [](uint8_t b) { return b != 0; })) {
    std::string stored;
    for (uint8_t b : gear.type_bytes) stored += (stored.empty() ? "" : ",") + std::to_string(b);
    notes.push_back({slot, "device type bytes", stored, "0,0"});
  }
  return row.line();
}

// Input-device CSV columns 10 to 20: instance setting byte `byte` of the
// instances whose type is `type`, 0 for the others.
std::string settings_cell(const InputDevice& device, uint8_t type, std::size_t byte) {
  uint8_t values[InputDeviceEntry::INSTANCE_SLOTS] = {};
  for (std::size_t k = 0; k < InputDeviceEntry::INSTANCE_SLOTS; ++k)
    if (device.types[k] == type) values[k] = device.settings[k][byte];
  return array_cell(values, InputDeviceEntry::INSTANCE_SLOTS, 0);
}

// The setting bytes of an instance that the CSV carries, by instance type.
std::pair<std::size_t, std::size_t> carried_settings(uint8_t type) {
  switch (type) {
    case InputDeviceEntry::PUSH_BUTTON: return {0, 6};
    case InputDeviceEntry::OCCUPANCY_SENSOR: return {1, 4};
    case InputDeviceEntry::LIGHT_SENSOR: return {1, 3};
    default: return {0, 0};
  }
}

std::string input_row(const InputView& view, const InputDevice& device, std::vector<ExportNote>& notes) {
  const int slot = static_cast<int>(device.slot);
  const bool addressed = device.flags & InputDeviceEntry::FLAG_ADDRESSED;
  Row row;
  row.add(std::to_string(view.import_tag));
  row.add(std::to_string(device.slot));
  // On the cleared record the import starts from, keeping the address leaves byte 0.
  row.add(address_cell(device.short_address, !addressed && device.address_byte == ADDRESS_NULL,
                       device.address_byte == 0, slot, device.flags, device.address_byte, notes));
  row.add(name_cell(device.name, slot, notes));
  const uint32_t flags = device.flags | InputDeviceEntry::FLAG_IMPORTED;
  if (flags != device.flags) notes.push_back({slot, "flags", hex(device.flags), hex(flags)});
  row.add(std::to_string(flags));
  const uint8_t count = std::min<uint8_t>(device.instance_count, InputDeviceEntry::INSTANCE_SLOTS);
  if (count != device.instance_count)
    notes.push_back({slot, "instance count", std::to_string(device.instance_count), std::to_string(count)});
  row.add(std::to_string(count));
  row.add(array_cell(device.types.data(), device.types.size(), 0));
  row.add(array_cell(device.values.data(), device.values.size(), 0));
  row.add(array_cell(&device.setting, 1, 0));
  for (std::size_t b = 0; b < 6; ++b) row.add(settings_cell(device, InputDeviceEntry::PUSH_BUTTON, b));
  for (std::size_t b = 1; b <= 3; ++b) row.add(settings_cell(device, InputDeviceEntry::OCCUPANCY_SENSOR, b));
  for (std::size_t b = 1; b <= 2; ++b) row.add(settings_cell(device, InputDeviceEntry::LIGHT_SENSOR, b));
  note_marker(device.marker, slot, notes);
  for (std::size_t k = 0; k < InputDeviceEntry::INSTANCE_SLOTS; ++k) {
    const auto [first, end] = carried_settings(device.types[k]);
    const auto& s = device.settings[k];
    for (std::size_t b = 0; b < s.size(); ++b)
      if ((b < first || b >= end) && s[b] != 0)
        notes.push_back(
            {slot, "instance " + std::to_string(k) + " setting byte " + std::to_string(b), std::to_string(s[b]), "0"});
  }
  return row.line();
}

// Bytes of a version-3 input-device record that no CSV cell sets and that the
// import, starting from a cleared record, therefore leaves 0.
uint64_t uncarried_bytes(std::span<const uint8_t> record, const InputView& view) {
  std::vector<bool> carried(view.layout->length, false);
  const auto mark = [&carried](std::size_t from, std::size_t count) {
    std::fill(carried.begin() + static_cast<std::ptrdiff_t>(from),
              carried.begin() + static_cast<std::ptrdiff_t>(from + count), true);
  };
  mark(0, RecordHeader::SIZE + 4);  // the header is the record writer's; then the import tag
  for (const InputDevice& device : view.devices) {
    if (!device.in_use()) continue;
    const std::size_t e = input_device_offset(device.slot);
    mark(e + InputDeviceEntry::FLAGS, 4);
    mark(e + InputDeviceEntry::SHORT_ADDRESS, 1);
    mark(e + InputDeviceEntry::INSTANCE_COUNT, 1);
    mark(e + InputDeviceEntry::MARKER, 1);
    mark(e + InputDeviceEntry::INSTANCES, 2 * InputDeviceEntry::INSTANCE_SLOTS);
    mark(e + InputDeviceEntry::NAME, InputDeviceEntry::NAME_SIZE);
    const std::size_t block = instance_block_offset(INPUT_V3, device.slot);
    mark(block + InstanceBlockV3::SETTING, 1);
    // Instance settings outside the carried ones were noted per instance.
    mark(block + InstanceBlockV3::INSTANCES, InstanceBlockV3::INSTANCE_SIZE * InputDeviceEntry::INSTANCE_SLOTS);
  }
  uint64_t count = 0;
  for (std::size_t i = 0; i < carried.size(); ++i) count += !carried[i] && record[i] != 0;
  return count;
}

}  // namespace

CsvExport export_channel_csv(std::span<const uint8_t> record) {
  CsvExport result;
  const ChannelView view = decode_channel_record(record);
  if (!view.problem.empty()) {
    result.problem = view.problem;
    return result;
  }
  result.csv = title(CHANNEL_HEADER, CHANNEL_COLUMN_NAMES);
  for (const GearSlot& gear : view.gear)
    if (gear.in_use()) result.csv += channel_row(view, gear, result.notes);
  return result;
}

CsvExport export_group_csv(std::span<const uint8_t> record) {
  CsvExport result;
  const ChannelView view = decode_channel_record(record);
  if (!view.problem.empty()) {
    result.problem = view.problem;
    return result;
  }
  result.csv = title(GROUP_HEADER, GROUP_COLUMN_NAMES);
  for (const GroupSlot& group : view.groups) {
    if (!group.in_use()) continue;
    const int slot = static_cast<int>(group.slot);
    result.csv += "0," + std::to_string(group.slot) + "," + name_cell(group.name, slot, result.notes) + "\n";
    note_marker(group.marker, slot, result.notes);
  }
  return result;
}

CsvExport export_input_csv(std::span<const uint8_t> record) {
  CsvExport result;
  const InputView view = decode_input_record(record);
  if (!view.problem.empty()) {
    result.problem = view.problem;
    return result;
  }
  result.csv = title(INPUT_HEADER, INPUT_COLUMN_NAMES);
  // The import writes version 3 only: a version-2 record comes back converted.
  if (view.layout->version != INPUT_V3.version)
    result.notes.push_back({-1, "record version", std::to_string(view.layout->version), "3"});
  for (const InputDevice& device : view.devices)
    if (device.in_use()) result.csv += input_row(view, device, result.notes);
  if (view.layout->version == INPUT_V3.version) {
    if (const uint64_t lost = uncarried_bytes(record, view))
      result.notes.push_back({-1, "bytes no column carries", std::to_string(lost) + " not 0", "0"});
  }
  return result;
}

std::string render_export_notes(const std::vector<ExportNote>& notes) {
  std::string out;
  for (const ExportNote& note : notes) {
    out += note.slot < 0 ? std::string("record") : "slot " + std::to_string(note.slot);
    out += " " + note.field + ": " + note.stored + " written as " + note.written + "\n";
  }
  return out;
}
