// The reading procedure that the three CSV imports share: libcsv drives two
// callbacks over the file, which count fields and rows, recognise the version
// header and comment rows, and hand the cells of each valid row to the format.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "import/import.h"

struct ImportContext;

// What one CSV format adds to the shared procedure.
struct CsvFormat {
  const char* tag;     // progress tag of the import ("importcsv", ...)
  const char* header;  // version header text, final blank included
  uint32_t columns;    // a row is applied only with exactly this many fields
  // Reads the cell of column `context.column` (below `columns`) into the row values.
  void (*read_field)(ImportContext& context, const char* text);
  // Writes the row values into the work area; true when something was written.
  bool (*apply_row)(ImportContext& context);
  // Sets the row values back to their start state.
  void (*clear_row)(ImportContext& context);
  // Why apply_row refused a row ("slot not within 0-63").
  const char* refused_row;
};

struct ImportContext {
  uint32_t column = 0;  // index of the next field in the current row
  uint32_t rows = 0;    // rows ended so far, comment and rejected rows included
  uint32_t fields = 0;  // fields seen so far in the whole file
  bool comment = false; // the current row holds a field beginning with '#'
  SetupWorkArea* image = nullptr;
  const FetchedConfiguration* fetched = nullptr;
  uint32_t record_version = 0;  // channel record version of the fetched firmware
  int64_t file_version = 0;     // set only by version header fields
  uint32_t applied = 0;         // rows that wrote into the work area
  uint32_t line = 1;            // line of the file being read
  uint32_t row_line = 0;        // line on which the current row started
  bool semicolon = false;       // the current row has a field holding ';'
  std::vector<SkippedRow> skipped;
  // Set by a row that met a condition which ends the run; the reader stops
  // as soon as the parser returns, and every later callback does nothing.
  std::optional<ImportResult> stop;
  const CsvFormat* format = nullptr;
  void* row = nullptr;  // the format's row values
};

// Reads `path` with `format`, filling `area` for the fetched firmware's layout.
// Results as for the imports of import.h.
ImportOutcome import_csv_file(const CsvFormat& format, void* row, const FetchedConfiguration* fetched,
                              const char* path, SetupWorkArea* area);
