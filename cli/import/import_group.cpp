// Group CSV: one DALI group name per row, written into a GroupEntry of the
// channel record in the layout of the gateway's firmware.
#include <string>

#include "import/csv_cells.h"
#include "import/csv_formats.h"
#include "import/csv_reader.h"
#include "import/import.h"

namespace {

struct GroupRow {
  int64_t first = 0;  // read but not used
  int64_t group = 0;
  std::string name;
};

void read_group_field(ImportContext& context, const char* text) {
  GroupRow& row = *static_cast<GroupRow*>(context.row);
  switch (context.column) {
    case 0: row.first = leading_integer(text); break;
    case 1: row.group = leading_integer(text); break;
    case 2: row.name = text; break;
    default: break;
  }
}

bool apply_group_row(ImportContext& context) {
  const GroupRow& row = *static_cast<const GroupRow*>(context.row);
  if (row.group < 0 || row.group >= static_cast<int64_t>(ChannelRecord::GROUP_COUNT)) return false;
  const ChannelLayout& layout = *channel_layout(context.record_version);
  uint8_t* entry = context.image->channel_image + group_entry_offset(layout, static_cast<std::size_t>(row.group));
  copy_name_field(entry + GroupEntry::NAME, GroupEntry::NAME_SIZE, row.name);
  entry[GroupEntry::MARKER] = 255;
  return true;
}

void clear_group_row(ImportContext& context) { *static_cast<GroupRow*>(context.row) = GroupRow{}; }

const CsvFormat GROUP_FORMAT{"importcsv_groups", csv_format::GROUP_HEADER, csv_format::GROUP_COLUMNS,
                             read_group_field, apply_group_row, clear_group_row, "group not within 0-15"};

}  // namespace

ImportOutcome import_group_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area) {
  GroupRow row;
  return import_csv_file(GROUP_FORMAT, &row, fetched, path, area);
}
