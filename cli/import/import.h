// Channel setup from CSV files: the three imports into a work area.
//
// Two conditions stop the whole run with exit status 1: the CSV parser
// failing on a file, and an input-device row meeting a gateway whose firmware
// does not call for channel record version 3. Nothing is pushed for that
// channel or any later one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "records/records.h"

// One per run, cleared for every channel: the channel record image (the
// largest version's length) and the input-device record image.
struct SetupWorkArea {
  uint8_t channel_image[ChannelRecord::IMAGE_SIZE];
  uint8_t input_image[InputDeviceRecord::IMAGE_SIZE];
};

void clear_work_area(SetupWorkArea* area);

// The longest field the imports take: far beyond any cell of the three
// formats (a name of 32 bytes, a JSON list of 32 numbers), small enough that
// a damaged or hostile file cannot make the parser take much memory.
constexpr std::size_t MAX_CSV_FIELD = 64 * 1024;

enum class ImportResult {
  Read,            // read to the end
  Skipped,         // the path, work area or firmware version is missing: nothing read
  NoParser,        // the CSV parser could not be set up
  Unreadable,      // the file could not be opened or read
  ParseFailed,     // the parser failed (`parser_error` says why): the run ends
  FieldTooLong,    // a field of row `rows + 1` is longer than MAX_CSV_FIELD bytes: the file is refused
  VersionRefused,  // an input-device row met firmware without input records of version 3: the run ends
};

// A data row that was not applied: its line in the file and why.
struct SkippedRow {
  uint32_t line = 0;
  uint32_t index = 0;  // 1-based among the file's data rows, applied and skipped
  std::string reason;
};

struct ImportOutcome {
  ImportResult result = ImportResult::Skipped;
  uint32_t fields = 0;   // fields seen in the whole file
  uint32_t rows = 0;     // rows ended, comment and rejected rows included
  uint32_t applied = 0;  // rows that wrote into the image (0 unless Read)
  std::vector<SkippedRow> skipped;  // data rows not applied, in file order (comment rows are none)
  std::string parser_error;
};

// Each import reads one CSV file into the work area, in the record layout that
// the fetched configuration's firmware version calls for.
ImportOutcome import_channel_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area);
ImportOutcome import_input_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area);
ImportOutcome import_group_csv(const FetchedConfiguration* fetched, const char* path, SetupWorkArea* area);
