#include "import/csv_reader.h"

#include <csv.h>

#include <cstdio>
#include <cstdlib>
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

// The tool's only exit from inside an import: a parser failure, or a row that
// cannot be written for this gateway. Releases what the reader holds so that
// nothing is left behind, then ends the process with status 1.
[[noreturn]] void end_tool(ParserHandle& parser, FileHandle& file) {
  parser.reset();
  file.reset();
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(1);
}

void on_field(void* text, std::size_t, void* data) {
  ImportContext& context = *static_cast<ImportContext*>(data);
  if (context.end_tool) return;
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
  if (context.end_tool) return;
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

// Feeds `count` bytes to the parser; ends the tool on a parser failure or
// when a row asked for it.
void parse_chunk(ParserHandle& parser, FileHandle& file, ImportContext& context, const unsigned char* bytes,
                 std::size_t count) {
  if (csv_parse(parser.get(), bytes, count, on_field, on_row_end, &context) < count) {
    std::fprintf(stderr, "Error while parsing file: %s\n", csv_strerror(csv_error(parser.get())));
    end_tool(parser, file);
  }
  if (context.end_tool) end_tool(parser, file);
}

}  // namespace

int import_csv_file(const CsvFormat& format, void* row, const FetchedConfiguration* fetched, const char* path,
                    SetupWorkArea* area, uint32_t* applied) {
  if (applied) *applied = 0;
  // Without a firmware version the record layout is unknown: nothing can be placed.
  if (!path || !area || !fetched || !fetched->firmware_version) return IMPORT_READ;

  ImportContext context;
  context.image = area;
  context.fetched = fetched;
  context.record_version = channel_record_version(fetched->firmware_version->c_str());
  context.format = &format;
  context.row = row;
  format.clear_row(context);

  csv_parser storage;
  if (csv_init(&storage, 0) != 0) return IMPORT_NO_PARSER;
  ParserHandle parser(&storage);
  csv_set_opts(parser.get(), CSV_APPEND_NULL);
  FileHandle file(platform::open_file(path, "rb"));
  if (!file) return IMPORT_UNREADABLE;

  unsigned char chunk[CHUNK_SIZE];
  bool first = true;
  std::size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    std::size_t start = 0;
    if (first && count >= sizeof UTF8_BOM && std::memcmp(chunk, UTF8_BOM, sizeof UTF8_BOM) == 0) {
      start = sizeof UTF8_BOM;
    }
    first = false;
    parse_chunk(parser, file, context, chunk + start, count - start);
  }
  if (std::ferror(file.get())) return IMPORT_UNREADABLE;
  csv_fini(parser.get(), on_field, on_row_end, &context);
  if (context.end_tool) end_tool(parser, file);
  file.reset();

  std::printf("%lu fields, %lu rows\n", static_cast<unsigned long>(context.fields),
              static_cast<unsigned long>(context.rows));
  if (applied) *applied = context.applied;
  return IMPORT_READ;
}
