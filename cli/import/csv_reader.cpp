#include "import/csv_reader.h"

#include <csv.h>

#include <cstdio>
#include <cstring>
#include <memory>

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

void on_field(void* text, std::size_t, void* data) {
  ImportContext& context = *static_cast<ImportContext*>(data);
  if (context.stop) return;
  const CsvFormat& format = *context.format;
  const char* field = text ? static_cast<const char*>(text) : "";
  if (field[0] == '#') {
    context.comment = true;
    if (std::strstr(field, format.header)) context.file_version = leading_integer(field + std::strlen(format.header));
  } else if (!context.comment && context.file_version == 1 && context.column < format.columns) {
    format.read_field(context, field);
  }
  ++context.fields;
  ++context.column;
}

void on_row_end(int, void* data) {
  ImportContext& context = *static_cast<ImportContext*>(data);
  if (context.stop) return;
  const CsvFormat& format = *context.format;
  if (!context.comment && context.file_version == 1 && context.column == format.columns &&
      format.apply_row(context)) {
    ++context.applied;
  }
  format.clear_row(context);
  ++context.rows;
  context.comment = false;
  context.column = 0;
}

// Feeds `count` bytes to the parser; false when the run must stop: on a
// parser failure or when a row asked for it.
bool parse_chunk(csv_parser* parser, ImportContext& context, const unsigned char* bytes, std::size_t count) {
  if (csv_parse(parser, bytes, count, on_field, on_row_end, &context) < count) {
    std::fprintf(stderr, "Error while parsing file: %s\n", csv_strerror(csv_error(parser)));
    return false;
  }
  return !context.stop;
}

}  // namespace

void clear_work_area(SetupWorkArea* area) { *area = SetupWorkArea{}; }

ImportResult import_csv_file(const CsvFormat& format, void* row, const FetchedConfiguration* fetched,
                             const char* path, SetupWorkArea* area, uint32_t* applied) {
  if (applied) *applied = 0;
  // Without a firmware version the record layout is unknown: nothing can be placed.
  if (!path || !area || !fetched || !fetched->firmware_version) return ImportResult::Read;

  ImportContext context;
  context.image = area;
  context.fetched = fetched;
  context.record_version = channel_record_version(fetched->firmware_version->c_str());
  context.format = &format;
  context.row = row;
  format.clear_row(context);

  csv_parser storage;
  if (csv_init(&storage, 0) != 0) return ImportResult::NoParser;
  ParserHandle parser(&storage);
  csv_set_opts(parser.get(), CSV_APPEND_NULL);
  FileHandle file(platform::open_file(path, "rb"));
  if (!file) return ImportResult::Unreadable;

  unsigned char chunk[CHUNK_SIZE];
  bool first = true;
  std::size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    std::size_t start = 0;
    if (first && count >= sizeof UTF8_BOM && std::memcmp(chunk, UTF8_BOM, sizeof UTF8_BOM) == 0) {
      start = sizeof UTF8_BOM;
    }
    first = false;
    if (!parse_chunk(parser.get(), context, chunk + start, count - start)) return ImportResult::Stopped;
  }
  if (std::ferror(file.get())) return ImportResult::Unreadable;
  csv_fini(parser.get(), on_field, on_row_end, &context);
  if (context.stop) return ImportResult::Stopped;
  file.reset();

  std::printf("%lu fields, %lu rows\n", static_cast<unsigned long>(context.fields),
              static_cast<unsigned long>(context.rows));
  if (applied) *applied = context.applied;
  return ImportResult::Read;
}
