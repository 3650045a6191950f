// Channel CSV: one control gear per row, written into a GearEntry of the
// channel record in the layout of the gateway's firmware.
#include <algorithm>
#include <cstring>
#include <string>

#include "import/csv_cells.h"
#include "import/csv_formats.h"
#include "import/csv_reader.h"
#include "import/import.h"

namespace {

using csv_format::FALSE_LEVEL;
using csv_format::LEVEL_NONE;
using csv_format::MAX_FADE;
using csv_format::MIN_FADE_RATE;

struct ChannelRow {
  int64_t tag = 0;
  int64_t slot = 0;
  uint8_t address = 0;
  std::string name;
  uint16_t group_mask = 0;
  uint8_t levels[4] = {};
  bool level_false = false;  // level byte 1 read "false"
  uint8_t fade_rate = 0;
  uint8_t fade_time = 0;
  uint8_t scenes[GearEntry::SCENE_COUNT] = {};
};

// A level cell that may say "null" (255).
uint8_t read_level(const char* text) {
  return equals_ignoring_case(text, "null") ? LEVEL_NONE : low_byte(leading_integer(text));
}

void read_channel_field(ImportContext& context, const char* text) {
  ChannelRow& row = *static_cast<ChannelRow*>(context.row);
  switch (context.column) {
    case 0: row.tag = leading_integer(text); break;
    case 1: row.slot = leading_integer(text); break;
    case 2: row.address = read_address_cell(text); break;
    case 3: row.name = text; break;
    case 4: row.group_mask = read_group_mask_cell(text); break;
    case 5:
      if (equals_ignoring_case(text, "false")) {
        row.levels[0] = FALSE_LEVEL;
        row.level_false = true;
      } else {
        row.levels[0] = read_level(text);
      }
      break;
    case 6: row.levels[1] = read_level(text); break;
    case 7: row.levels[2] = low_byte(leading_integer(text)); break;
    case 8: row.levels[3] = low_byte(leading_integer(text)); break;
    case 9: row.fade_rate = std::clamp(low_byte(leading_integer(text)), MIN_FADE_RATE, MAX_FADE); break;
    case 10: row.fade_time = std::min(low_byte(leading_integer(text)), MAX_FADE); break;
    case 11: read_scene_cell(text, row.scenes); break;
    default: break;
  }
}

bool apply_channel_row(ImportContext& context) {
  const ChannelRow& row = *static_cast<const ChannelRow*>(context.row);
  if (row.slot < 0 || row.slot >= static_cast<int64_t>(ChannelRecord::GEAR_COUNT)) return false;
  const auto slot = static_cast<std::size_t>(row.slot);
  const ChannelLayout& layout = *channel_layout(context.record_version);
  uint8_t* record = context.image->channel_image;
  uint8_t* entry = record + gear_entry_offset(layout, slot);

  uint32_t flags = get_le32(entry, GearEntry::FLAGS);
  flags |= row.level_false ? GearEntry::FLAG_IMPORTED_OFF : GearEntry::FLAG_IMPORTED;
  entry[GearEntry::MARKER] = 255;
  if (row.address == ADDRESS_NULL) {
    // Each layout records "no address" its own way; versions 0/1 keep it in the slot's extra block.
    if (layout.version == 1) {
      std::memset(record + extra_block_offset(layout, slot), 0, ChannelRecord::EXTRA_BLOCK_SIZE);
    } else {
      flags &= ~GearEntry::FLAG_ADDRESSED;
      entry[GearEntry::SHORT_ADDRESS] = layout.version == 3 ? ADDRESS_NULL : 0;
    }
  } else if (row.address <= ADDRESS_MAX) {
    flags |= GearEntry::FLAG_ADDRESSED;
    entry[GearEntry::SHORT_ADDRESS] = static_cast<uint8_t>(2 * row.address + 1);
  }
  put_le32(entry, GearEntry::FLAGS, flags);

  if (layout.version == 3) {
    put_le32(record, ChannelRecord::IMPORT_TAG, static_cast<uint32_t>(row.tag));
    entry[layout.device_type] = 0;
    entry[layout.device_type + 1] = 0;
  }
  copy_name_field(entry + layout.name, GearEntry::NAME_SIZE, row.name);
  put_le16(entry, GearEntry::GROUP_MASK, row.group_mask);
  entry[GearEntry::LEVEL_1] = row.levels[0];
  entry[GearEntry::LEVEL_2] = row.levels[1];
  entry[GearEntry::LEVEL_3] = row.levels[2];
  entry[GearEntry::LEVEL_4] = row.levels[3];
  entry[GearEntry::FADE_RATE] = row.fade_rate;
  entry[GearEntry::FADE_TIME] = row.fade_time;
  std::memcpy(entry + GearEntry::SCENES, row.scenes, GearEntry::SCENE_COUNT);
  return true;
}

void clear_channel_row(ImportContext& context) { *static_cast<ChannelRow*>(context.row) = ChannelRow{}; }

const CsvFormat CHANNEL_FORMAT{"importcsv", csv_format::CHANNEL_HEADER, csv_format::CHANNEL_COLUMNS,
                               read_channel_field, apply_channel_row, clear_channel_row, "slot not within 0-63"};

}  // namespace

ImportOutcome import_channel_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area) {
  ChannelRow row;
  return import_csv_file(CHANNEL_FORMAT, &row, fetched, path, area);
}
