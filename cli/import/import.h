// Channel setup from CSV files: the three imports and the setup_channel action.
//
// Two conditions end the whole tool at once with exit status 1, after
// standard output is flushed: the CSV parser failing on a file, and an
// input-device row meeting a gateway whose firmware does not call for channel
// record version 3. Nothing is pushed for that channel or any later one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/records.h"

struct FetchedConfiguration;

// One per run, cleared for every channel: the channel record image (the
// largest version's length) and the input-device record image.
struct SetupWorkArea {
  uint8_t channel_image[ChannelRecord::IMAGE_SIZE];
  uint8_t input_image[InputDeviceRecord::IMAGE_SIZE];
};

void clear_work_area(SetupWorkArea* area);

// Results of the three imports.
constexpr int IMPORT_READ = 1;         // read to the end, or the path/work area/firmware version is missing
constexpr int IMPORT_NO_PARSER = 2;    // the CSV parser could not be set up
constexpr int IMPORT_UNREADABLE = 3;   // the file could not be opened or read

// Each import reads one CSV file into the work area, in the record layout that
// the fetched configuration's firmware version calls for, and prints
// "<fields> fields, <rows> rows". `applied` (optional) receives the number of
// rows that wrote into the image.
int import_channel_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area,
                       uint32_t* applied = nullptr);
int import_input_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area,
                     uint32_t* applied = nullptr);
int import_group_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area,
                     uint32_t* applied = nullptr);

// Action "setup_channel". Lists are nullptr when absent; a 0 in `channel` ends
// it. 0 when every channel handled was pushed and restored, 1 when any was
// skipped or failed, 2 for missing arguments.
int setup_channel(const char* ip, const std::vector<int32_t>* channel, const std::vector<std::string>* channelcsvfile,
                  const std::vector<std::string>* channelgroupscsvfile,
                  const std::vector<std::string>* channelinputscsvfile);
