// Channel setup from CSV files: the three imports into a work area.
//
// Two conditions stop the whole run with exit status 1: the CSV parser
// failing on a file, and an input-device row meeting a gateway whose firmware
// does not call for channel record version 3. The import returns
// ImportResult::Stopped; nothing is pushed for that channel or any later one.
#pragma once

#include <cstdint>

#include "backup/backup.h"
#include "records/records.h"

// One per run, cleared for every channel: the channel record image (the
// largest version's length) and the input-device record image.
struct SetupWorkArea {
  uint8_t channel_image[ChannelRecord::IMAGE_SIZE];
  uint8_t input_image[InputDeviceRecord::IMAGE_SIZE];
};

void clear_work_area(SetupWorkArea* area);

enum class ImportResult {
  Read,        // read to the end, or the path/work area/firmware version is missing
  NoParser,    // the CSV parser could not be set up
  Unreadable,  // the file could not be opened or read
  Stopped,     // the parser failed or a row cannot be written for this gateway (reported): the run ends
};

// Each import reads one CSV file into the work area, in the record layout that
// the fetched configuration's firmware version calls for, and prints
// "<fields> fields, <rows> rows". `applied` (optional) receives the number of
// rows that wrote into the image.
ImportResult import_channel_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area,
                                uint32_t* applied = nullptr);
ImportResult import_input_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area,
                              uint32_t* applied = nullptr);
ImportResult import_group_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area,
                              uint32_t* applied = nullptr);
