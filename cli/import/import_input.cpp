// Input-device CSV: one DALI input device per row, written into an
// InputDeviceEntry and its InstanceBlock of a version-3 input-device record.
#include <algorithm>
#include <string>

#include "backup/backup.h"
#include "import/csv_cells.h"
#include "import/csv_formats.h"
#include "import/csv_reader.h"
#include "import/import.h"

namespace {

constexpr std::size_t SLOTS = InputDeviceEntry::INSTANCE_SLOTS;

// Columns 7 to 20 are arrays of one byte per instance, in this order.
enum ArrayColumn : std::size_t {
  TYPES,
  VALUES,
  DEVICE_SETTING,  // only its first byte is used
  PUSH_BUTTON_0,   // push-button settings 0..5
  OCCUPANCY_1 = PUSH_BUTTON_0 + 6,  // occupancy-sensor settings 1..3
  LIGHT_1 = OCCUPANCY_1 + 3,        // light-sensor settings 1..2
  ARRAY_COUNT = LIGHT_1 + 2,
};
constexpr uint32_t FIRST_ARRAY_COLUMN = 6;

struct InputRow {
  int64_t tag = 0;
  int64_t slot = 0;
  uint8_t address = 0;
  std::string name;
  uint32_t flags = 0;
  uint8_t instance_count = 0;
  uint8_t arrays[ARRAY_COUNT][SLOTS] = {};
};

void read_input_field(ImportContext& context, const char* text) {
  InputRow& row = *static_cast<InputRow*>(context.row);
  switch (context.column) {
    case 0: row.tag = leading_integer(text); break;
    case 1: row.slot = leading_integer(text); break;
    case 2: row.address = read_address_cell(text); break;
    case 3: row.name = text; break;
    case 4: row.flags = static_cast<uint32_t>(leading_integer(text)); break;
    case 5: row.instance_count = std::min(low_byte(leading_integer(text)), static_cast<uint8_t>(SLOTS)); break;
    default: read_byte_array_cell(text, row.arrays[context.column - FIRST_ARRAY_COLUMN]); break;
  }
}

// Writes instance k's settings into its 6 setting bytes, as its type calls for.
void write_instance_settings(const InputRow& row, std::size_t k, uint8_t* settings) {
  switch (row.arrays[TYPES][k]) {
    case InputDeviceEntry::PUSH_BUTTON:
      for (std::size_t b = 0; b < 6; ++b) settings[b] = row.arrays[PUSH_BUTTON_0 + b][k];
      break;
    case InputDeviceEntry::OCCUPANCY_SENSOR:
      for (std::size_t b = 1; b <= 3; ++b) settings[b] = row.arrays[OCCUPANCY_1 + b - 1][k];
      break;
    case InputDeviceEntry::LIGHT_SENSOR:
      for (std::size_t b = 1; b <= 2; ++b) settings[b] = row.arrays[LIGHT_1 + b - 1][k];
      break;
    default: break;
  }
}

bool apply_input_row(ImportContext& context) {
  if (context.record_version != INPUT_V3.version) {
    context.stop = ImportResult::VersionRefused;
    return false;
  }
  const InputRow& row = *static_cast<const InputRow*>(context.row);
  if (row.slot < 0 || row.slot >= static_cast<int64_t>(InputDeviceRecord::DEVICE_COUNT)) return false;
  const auto slot = static_cast<std::size_t>(row.slot);
  uint8_t* record = context.image->input_image;
  uint8_t* entry = record + input_device_offset(slot);

  uint32_t flags = row.flags | InputDeviceEntry::FLAG_IMPORTED;
  entry[InputDeviceEntry::MARKER] = 255;
  put_le32(record, InputDeviceRecord::IMPORT_TAG, static_cast<uint32_t>(row.tag));
  if (row.address == ADDRESS_NULL) {
    flags &= ~InputDeviceEntry::FLAG_ADDRESSED;
    entry[InputDeviceEntry::SHORT_ADDRESS] = ADDRESS_NULL;
  } else if (row.address <= ADDRESS_MAX) {
    flags |= InputDeviceEntry::FLAG_ADDRESSED;
    entry[InputDeviceEntry::SHORT_ADDRESS] = static_cast<uint8_t>(2 * row.address + 1);
  }
  put_le32(entry, InputDeviceEntry::FLAGS, flags);
  copy_name_field(entry + InputDeviceEntry::NAME, InputDeviceEntry::NAME_SIZE, row.name);
  entry[InputDeviceEntry::INSTANCE_COUNT] = row.instance_count;

  uint8_t* block = record + instance_block_offset(INPUT_V3, slot);
  block[InstanceBlockV3::SETTING] = row.arrays[DEVICE_SETTING][0];
  for (std::size_t k = 0; k < SLOTS; ++k) {
    entry[InputDeviceEntry::INSTANCES + 2 * k] = row.arrays[TYPES][k];
    entry[InputDeviceEntry::INSTANCES + 2 * k + 1] = row.arrays[VALUES][k];
    write_instance_settings(row, k, block + InstanceBlockV3::INSTANCES + InstanceBlockV3::INSTANCE_SIZE * k);
  }
  return true;
}

void clear_input_row(ImportContext& context) { *static_cast<InputRow*>(context.row) = InputRow{}; }

const CsvFormat INPUT_FORMAT{"importcsv_cd", csv_format::INPUT_HEADER, csv_format::INPUT_COLUMNS,
                             read_input_field, apply_input_row, clear_input_row, "slot not within 0-31"};

}  // namespace

ImportOutcome import_input_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area) {
  InputRow row;
  return import_csv_file(INPUT_FORMAT, &row, fetched, path, area);
}
