// The fields of a decoded slot as name and JSON value: what show writes into
// its JSON document and what diff compares slot by slot.
#pragma once

#include <string>
#include <vector>

#include "records/decode.h"

struct SlotField {
  std::string name;
  std::string json;
  bool instance = false;  // one instance of an input device ("instance 3")
};

std::vector<SlotField> gear_fields(const GearSlot& gear);
std::vector<SlotField> group_fields(const GroupSlot& group);
std::vector<SlotField> device_fields(const InputDevice& device);

// A JSON array of byte values; `none` (if given) is written as null.
std::string json_byte_array(const uint8_t* bytes, std::size_t count, int none = -1);
// The group numbers of a group mask, in order.
std::vector<unsigned> group_numbers(uint16_t mask);
// Instances 0 .. count-1 hold everything the device has: its instance count
// or the last instance with any non-zero byte, whichever is further.
std::size_t instances_used(const InputDevice& device);
// The kinds of the instances in use, counted: "3 push button, 1 light, 1 type 2".
std::string instance_summary(const InputDevice& device);
