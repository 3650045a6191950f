#include "zip/zip.h"

#include <zip.h>

#include <algorithm>
#include <ctime>
#include <string>

namespace {

constexpr uint64_t ZIP_ENTRY_LIMIT = 65535;     // without Zip64 records
constexpr uint64_t ZIP_OFFSET_LIMIT = 1ull << 32;
constexpr uint64_t LOCAL_HEADER_SIZE = 30;
constexpr uint32_t DOS_DIRECTORY_ATTRIBUTE = 0x10;

}  // namespace

struct ZipArchive {
  zip_t* zip = nullptr;
  bool writing = false;
  int level = 6;  // 0 stores

  // Writing. libzip compresses the entries when the archive is closed and
  // reads their bytes then, so finished entries stay here until that point.
  bool entry_open = false;
  std::string entry_name;
  std::vector<uint8_t> entry_data;
  std::time_t entry_time = 0;
  std::vector<std::vector<uint8_t>> finished;
  uint64_t next_offset = 0;  // where the next local header would start, at most

  // Reading.
  int64_t current = -1;
  std::string current_name;
};

void ZipArchiveDiscard::operator()(ZipArchive* handle) const {
  if (handle->zip) zip_discard(handle->zip);
  delete handle;
}

ZipArchiveHandle zip_archive_open(const char* path, int level, char mode) {
  if (!path || !*path || (mode != 'w' && mode != 'r')) return nullptr;
  if (level < 0) level = 6;
  level &= 0xF;
  if (level > 10) return nullptr;
  ZipArchiveHandle handle(new ZipArchive);
  handle->writing = mode == 'w';
  handle->level = std::min(level, 9);  // deflate knows no level above 9
  int error = 0;
  // ZIP_TRUNCATE: an existing file is replaced by a complete new one at close, not emptied now.
  handle->zip = zip_open(path, handle->writing ? ZIP_CREATE | ZIP_TRUNCATE : ZIP_RDONLY, &error);
  if (!handle->zip) return nullptr;
  return handle;
}

int zip_archive_close(ZipArchiveHandle handle) {
  if (!handle) return -1;
  if (!handle->writing) return 0;
  if (zip_close(handle->zip) != 0) return -1;
  handle->zip = nullptr;
  return 0;
}

int zip_entry_begin(ZipArchive* handle, const char* name) {
  if (!handle || !handle->writing || handle->entry_open || !name || !*name) return -1;
  if (handle->finished.size() >= ZIP_ENTRY_LIMIT || handle->next_offset >= ZIP_OFFSET_LIMIT) return -1;
  handle->entry_name = name;
  std::replace(handle->entry_name.begin(), handle->entry_name.end(), '\\', '/');
  handle->entry_data.clear();
  handle->entry_time = std::time(nullptr);
  handle->entry_open = true;
  return 0;
}

int zip_entry_append(ZipArchive* handle, const void* bytes, std::size_t count) {
  if (!handle || !handle->entry_open) return -1;
  if (count == 0) return 0;
  if (!bytes) return -1;
  const auto* first = static_cast<const uint8_t*>(bytes);
  handle->entry_data.insert(handle->entry_data.end(), first, first + count);
  return 0;
}

namespace {

int finish_written_entry(ZipArchive* handle) {
  handle->entry_open = false;
  std::vector<uint8_t> data = std::move(handle->entry_data);
  handle->entry_data.clear();
  if (data.size() >= ZIP_OFFSET_LIMIT) return -1;
  zip_source_t* source = zip_source_buffer(handle->zip, data.data(), data.size(), 0);
  if (!source) return -1;
  const zip_int64_t index = zip_file_add(handle->zip, handle->entry_name.c_str(), source, 0);
  if (index < 0) {
    zip_source_free(source);
    return -1;
  }
  const auto entry = static_cast<zip_uint64_t>(index);
  const zip_int32_t method = handle->level == 0 ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
  if (zip_set_file_compression(handle->zip, entry, method, static_cast<zip_uint32_t>(handle->level)) != 0 ||
      zip_file_set_mtime(handle->zip, entry, handle->entry_time, 0) != 0 ||
      zip_file_set_external_attributes(handle->zip, entry, 0, ZIP_OPSYS_DOS, 0) != 0) {
    zip_delete(handle->zip, entry);
    return -1;
  }
  handle->next_offset += LOCAL_HEADER_SIZE + handle->entry_name.size() + data.size();
  handle->finished.push_back(std::move(data));  // the buffer does not move with the vector
  return 0;
}

}  // namespace

int zip_entry_finish(ZipArchive* handle) {
  if (!handle) return -1;
  if (handle->writing) return handle->entry_open ? finish_written_entry(handle) : -1;
  if (handle->current < 0) return -1;
  handle->current = -1;
  handle->current_name.clear();
  return 0;
}

int64_t zip_archive_entry_count(ZipArchive* handle) {
  if (!handle || handle->writing) return -1;
  return zip_get_num_entries(handle->zip, 0);
}

int zip_entry_select(ZipArchive* handle, int64_t index) {
  if (!handle || handle->writing) return -1;
  handle->current = -1;
  handle->current_name.clear();
  if (index < 0 || index >= zip_archive_entry_count(handle)) return -1;
  const char* name = zip_get_name(handle->zip, static_cast<zip_uint64_t>(index), ZIP_FL_ENC_RAW);
  if (!name) return -1;
  handle->current = index;
  handle->current_name = name;
  std::replace(handle->current_name.begin(), handle->current_name.end(), '\\', '/');
  return 0;
}

const char* zip_entry_current_name(ZipArchive* handle) {
  if (!handle || handle->current < 0) return nullptr;
  return handle->current_name.c_str();
}

int zip_entry_is_directory(ZipArchive* handle) {
  if (!handle || handle->current < 0) return -1;
  if (!handle->current_name.empty() && handle->current_name.back() == '/') return 1;
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(handle->zip, static_cast<zip_uint64_t>(handle->current), 0, &system,
                                       &attributes) != 0)
    return 0;
  return (attributes & DOS_DIRECTORY_ATTRIBUTE) ? 1 : 0;
}

ZipRead zip_entry_read_all(ZipArchive* handle, std::vector<uint8_t>* out, uint64_t limit) {
  if (!out || zip_entry_is_directory(handle) != 0) return ZipRead::Failed;
  out->clear();
  const auto index = static_cast<zip_uint64_t>(handle->current);
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(handle->zip, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)) return ZipRead::Failed;
  // Refused on what the entry claims, before anything is inflated.
  if (stat.size > limit) return ZipRead::TooLarge;
  zip_file_t* file = zip_fopen_index(handle->zip, index, 0);
  if (!file) return ZipRead::Failed;
  // Grown by what actually inflates rather than by the size the entry claims,
  // and never beyond that claim: an entry that inflates to more is damaged.
  uint8_t chunk[64 * 1024];
  zip_int64_t n;
  bool beyond_claim = false;
  while (!beyond_claim && (n = zip_fread(file, chunk, sizeof chunk)) > 0) {
    beyond_claim = out->size() + static_cast<uint64_t>(n) > stat.size;
    if (!beyond_claim) out->insert(out->end(), chunk, chunk + n);
  }
  const bool closed = zip_fclose(file) == 0;
  const bool failed = beyond_claim || n < 0 || !closed;
  if (failed) out->clear();
  return failed ? ZipRead::Failed : ZipRead::Read;
}

struct ZipEntryStream {
  zip_file_t* file = nullptr;
  uint64_t left = 0;  // bytes the entry still declares
};

void ZipEntryStreamClose::operator()(ZipEntryStream* stream) const {
  if (stream->file) zip_fclose(stream->file);
  delete stream;
}

ZipEntryStreamHandle zip_entry_open_stream(ZipArchive* handle, uint64_t* size) {
  if (!size || zip_entry_is_directory(handle) != 0) return nullptr;
  const auto index = static_cast<zip_uint64_t>(handle->current);
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(handle->zip, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)) return nullptr;
  ZipEntryStreamHandle stream(new ZipEntryStream);
  stream->file = zip_fopen_index(handle->zip, index, 0);
  if (!stream->file) return nullptr;
  stream->left = stat.size;
  *size = stat.size;
  return stream;
}

bool zip_entry_stream_read(ZipEntryStream* stream, uint8_t* buffer, std::size_t count) {
  if (!stream || count > stream->left) return false;
  while (count > 0) {
    const zip_int64_t n = zip_fread(stream->file, buffer, count);
    if (n <= 0) return false;
    buffer += n;
    count -= static_cast<std::size_t>(n);
    stream->left -= static_cast<uint64_t>(n);
  }
  return true;
}
