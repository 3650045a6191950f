#include "import/csv_reader.h"

#include <csv.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "backup/backup.h"
#include "import/csv_cells.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t CHUNK_SIZE = 1024;
// Spreadsheet programs start "CSV UTF-8" files with a byte-order mark.
constexpr unsigned char UTF8_BOM[3] = {0xEF, 0xBB, 0xBF};

struct ParserFree {
  void operator()(csv_parser* parser) const { csv_free(parser); }
};
struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using ParserHandle = std::unique_ptr<csv_parser, ParserFree>;
using FileHandle = std::unique_ptr<std::FILE, FileClose>;

void on_field(void* text, std::size_t length, void* data) {
  ImportContext& context = *static_cast<ImportContext*>(data);
  if (context.stop) return;
  if (length > MAX_CSV_FIELD) {
    context.stop = ImportResult::FieldTooLong;
    return;
  }
  const CsvFormat& format = *context.format;
  const char* field = text ? static_cast<const char*>(text) : "";
  if (context.column == 0) context.row_line = context.line;
  context.semicolon = context.semicolon || std::strchr(field, ';');
  if (field[0] == '#') {
    context.comment = true;
    if (std::strstr(field, format.header)) context.file_version = leading_integer(field + std::strlen(format.header));
  } else if (!context.comment && context.file_version == 1 && context.column < format.columns) {
    format.read_field(context, field);
  }
  ++context.fields;
  ++context.column;
}

// Applies the row that just ended; why it was not, or "" when it was.
std::string row_problem(ImportContext& context) {
  const CsvFormat& format = *context.format;
  if (context.file_version == 0)
    return std::string("no version line \"") + format.header + "1\" before it (the file's first line)";
  if (context.file_version != 1)
    return "the file's version " + std::to_string(context.file_version) + " is not read (1 is)";
  if (context.column != format.columns) {
    std::string why = std::to_string(context.column) + " fields, " + std::to_string(format.columns) + " expected";
    if (context.column == 1 && context.semicolon) why += " (separated by ';': the file must use commas)";
    return why;
  }
  return format.apply_row(context) ? "" : format.refused_row;
}

void on_row_end(int, void* data) {
  ImportContext& context = *static_cast<ImportContext*>(data);
  if (context.stop) return;
  const CsvFormat& format = *context.format;
  if (!context.comment) {
    const std::string why = row_problem(context);
    const uint32_t index = context.applied + static_cast<uint32_t>(context.skipped.size()) + 1;
    if (why.empty())
      ++context.applied;
    else
      context.skipped.push_back({context.row_line, index, why});
  }
  format.clear_row(context);
  ++context.rows;
  context.comment = false;
  context.semicolon = false;
  context.column = 0;
}

// Feeds `count` bytes to the parser; the result that ends the reading, if any.
std::optional<ImportResult> parse_chunk(csv_parser* parser, ImportContext& context, const unsigned char* bytes,
                                        std::size_t count) {
  // libcsv grows a field's buffer by its block size: growing by what it holds
  // already keeps a long field from being copied over and over.
  csv_set_blk_size(parser, std::max(CHUNK_SIZE, csv_get_buffer_size(parser)));
  if (csv_parse(parser, bytes, count, on_field, on_row_end, &context) < count) return ImportResult::ParseFailed;
  // A field that never ends (an open quote) is refused before the field
  // callback sees it; one chunk grows the buffer at most once.
  if (csv_get_buffer_size(parser) > 2 * MAX_CSV_FIELD) return ImportResult::FieldTooLong;
  return context.stop;
}

}  // namespace

void clear_work_area(SetupWorkArea* area) { *area = SetupWorkArea{}; }

ImportOutcome import_csv_file(const CsvFormat& format, void* row, const FetchedConfiguration* fetched,
                              const char* path, SetupWorkArea* area) {
  ImportOutcome outcome;
  // Without a firmware version the record layout is unknown: nothing can be placed.
  if (!path || !area || !fetched || !fetched->firmware_version) return outcome;

  ImportContext context;
  context.image = area;
  context.fetched = fetched;
  context.record_version = channel_record_version(fetched->firmware_version->c_str());
  context.format = &format;
  context.row = row;
  format.clear_row(context);

  csv_parser storage;
  outcome.result = ImportResult::NoParser;
  if (csv_init(&storage, 0) != 0) return outcome;
  ParserHandle parser(&storage);
  csv_set_opts(parser.get(), CSV_APPEND_NULL);
  FileHandle file(platform::open_file(path, "rb"));
  outcome.result = ImportResult::Unreadable;
  if (!file) return outcome;

  unsigned char chunk[CHUNK_SIZE];
  bool first = true;
  std::size_t count;
  std::optional<ImportResult> ended;
  while (!ended && (count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    std::size_t start = 0;
    if (first && count >= sizeof UTF8_BOM && std::memcmp(chunk, UTF8_BOM, sizeof UTF8_BOM) == 0) {
      start = sizeof UTF8_BOM;
    }
    first = false;
    // Line by line, so that the callbacks know the line they are on.
    while (!ended && start < count) {
      const auto* newline = static_cast<const unsigned char*>(std::memchr(chunk + start, '\n', count - start));
      const std::size_t end = newline ? static_cast<std::size_t>(newline - chunk) + 1 : count;
      ended = parse_chunk(parser.get(), context, chunk + start, end - start);
      if (newline) ++context.line;
      start = end;
    }
  }
  if (!ended && std::ferror(file.get())) return outcome;
  if (!ended) {
    csv_fini(parser.get(), on_field, on_row_end, &context);
    ended = context.stop;
  }
  outcome.fields = context.fields;
  outcome.rows = context.rows;
  if (ended == ImportResult::ParseFailed) outcome.parser_error = csv_strerror(csv_error(parser.get()));
  outcome.result = ended.value_or(ImportResult::Read);
  if (!ended) outcome.applied = context.applied;
  if (!ended) outcome.skipped = std::move(context.skipped);
  return outcome;
}
