// The three CSV formats as the imports read them: version header texts,
// column counts and the value limits the channel import applies. Whatever
// writes these formats takes them from here.
#pragma once

#include <cstdint>

namespace csv_format {

constexpr const char* CHANNEL_HEADER = "#dali-channel-csv-version: ";
constexpr const char* GROUP_HEADER = "#dali-channel-groups-csv-version: ";
constexpr const char* INPUT_HEADER = "#dali-channel-inputs-csv-version: ";
constexpr int64_t FILE_VERSION = 1;  // the only version whose rows are applied

constexpr uint32_t CHANNEL_COLUMNS = 12;
constexpr uint32_t GROUP_COLUMNS = 3;
constexpr uint32_t INPUT_COLUMNS = 20;

// Channel CSV values.
constexpr uint8_t LEVEL_NONE = 255;   // "null" in a level cell
constexpr uint8_t FALSE_LEVEL = 100;  // level 1 stored for "false"
constexpr uint8_t MIN_FADE_RATE = 1;
constexpr uint8_t MAX_FADE = 15;  // highest fade rate and fade time
// An address cell above the DALI addresses and below null leaves the address as it was.
constexpr uint8_t ADDRESS_KEEP = 64;

}  // namespace csv_format
