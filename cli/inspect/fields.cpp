#include "inspect/fields.h"

#include <algorithm>
#include <map>

#include "util/json_writer.h"

namespace {

constexpr int NONE = 255;

std::string optional_number(const std::optional<uint8_t>& value) { return value ? std::to_string(*value) : "null"; }

template <class Numbers>
std::string json_numbers(const Numbers& numbers) {
  std::string out = "[";
  for (const auto n : numbers) out += (out.size() > 1 ? "," : "") + std::to_string(n);
  return out + "]";
}

const char* instance_type_name(uint8_t type) {
  switch (type) {
    case InputDeviceEntry::PUSH_BUTTON: return "push button";
    case InputDeviceEntry::OCCUPANCY_SENSOR: return "occupancy";
    case InputDeviceEntry::LIGHT_SENSOR: return "light";
    default: return nullptr;
  }
}

}  // namespace

std::string json_byte_array(const uint8_t* bytes, std::size_t count, int none) {
  std::string out = "[";
  for (std::size_t i = 0; i < count; ++i) {
    if (i) out += ',';
    out += bytes[i] == none ? "null" : std::to_string(bytes[i]);
  }
  return out + "]";
}

std::vector<unsigned> group_numbers(uint16_t mask) {
  std::vector<unsigned> groups;
  for (unsigned g = 0; g < 16; ++g)
    if (mask & 1u << g) groups.push_back(g);
  return groups;
}

std::size_t instances_used(const InputDevice& device) {
  std::size_t used = std::min<std::size_t>(device.instance_count, InputDeviceEntry::INSTANCE_SLOTS);
  for (std::size_t k = 0; k < InputDeviceEntry::INSTANCE_SLOTS; ++k) {
    const auto& s = device.settings[k];
    if (device.types[k] || device.values[k] || std::any_of(s.begin(), s.end(), [](uint8_t b) { return b != 0; }))
      used = std::max(used, k + 1);
  }
  return used;
}

std::vector<SlotField> gear_fields(const GearSlot& gear) {
  return {
      {"name", json_quote(gear.name.text)},
      {"short_address", optional_number(gear.short_address)},
      {"device_types", json_numbers(gear.device_types())},
      {"groups", json_numbers(group_numbers(gear.groups))},
      {"levels", json_byte_array(gear.levels.data(), gear.levels.size())},
      {"fade_rate", std::to_string(gear.fade_rate)},
      {"fade_time", std::to_string(gear.fade_time)},
      {"scenes", json_byte_array(gear.scenes.data(), gear.scenes.size(), NONE)},
      {"flags", std::to_string(gear.flags)},
  };
}

std::vector<SlotField> group_fields(const GroupSlot& group) { return {{"name", json_quote(group.name.text)}}; }

std::vector<SlotField> device_fields(const InputDevice& device) {
  std::vector<SlotField> fields = {
      {"name", json_quote(device.name.text)},      {"short_address", optional_number(device.short_address)},
      {"flags", std::to_string(device.flags)},     {"instance_count", std::to_string(device.instance_count)},
      {"setting", std::to_string(device.setting)},
  };
  const std::size_t used = instances_used(device);
  for (std::size_t k = 0; k < used; ++k) {
    const auto& s = device.settings[k];
    fields.push_back({"instance " + std::to_string(k),
                      "{\"type\":" + std::to_string(device.types[k]) +
                          ",\"value\":" + std::to_string(device.values[k]) +
                          ",\"settings\":" + json_byte_array(s.data(), s.size()) + "}",
                      true});
  }
  return fields;
}

std::string instance_summary(const InputDevice& device) {
  std::map<uint8_t, unsigned> counts;
  const std::size_t used = std::min<std::size_t>(device.instance_count, InputDeviceEntry::INSTANCE_SLOTS);
  for (std::size_t k = 0; k < used; ++k) ++counts[device.types[k]];
  std::string out;
  for (const auto& [type, count] : counts) {
    const char* name = instance_type_name(type);
    out += (out.empty() ? "" : ", ") + std::to_string(count) + " " + (name ? name : "type " + std::to_string(type));
  }
  return out;
}
