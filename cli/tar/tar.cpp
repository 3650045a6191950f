#include "tar/tar.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

// Raw header layout.
constexpr std::size_t RAW_NAME_OFFSET = 0, RAW_NAME_WIDTH = 100;
constexpr std::size_t RAW_MODE_OFFSET = 100, RAW_MODE_WIDTH = 8;
constexpr std::size_t RAW_OWNER_OFFSET = 108, RAW_OWNER_WIDTH = 8;
constexpr std::size_t RAW_SIZE_OFFSET = 124, RAW_SIZE_WIDTH = 12;
constexpr std::size_t RAW_MTIME_OFFSET = 136, RAW_MTIME_WIDTH = 12;
constexpr std::size_t RAW_CHECKSUM_OFFSET = 148, RAW_CHECKSUM_WIDTH = 8;
constexpr std::size_t RAW_TYPE_OFFSET = 156;
constexpr std::size_t RAW_LINK_OFFSET = 157, RAW_LINK_WIDTH = 100;

using Block = uint8_t[TAR_BLOCK];

int file_read(TarArchive* archive, void* destination, uint32_t count) {
  auto* file = static_cast<std::FILE*>(archive->stream);
  if (!file || !destination) return TAR_FAILURE;
  return std::fread(destination, 1, count, file) == count ? TAR_SUCCESS : TAR_READ_FAILED;
}

int file_write(TarArchive* archive, const void* source, uint32_t count) {
  auto* file = static_cast<std::FILE*>(archive->stream);
  if (!file || !source) return TAR_FAILURE;
  return std::fwrite(source, 1, count, file) == count ? TAR_SUCCESS : TAR_WRITE_FAILED;
}

int file_seek(TarArchive* archive, uint32_t position) {
  auto* file = static_cast<std::FILE*>(archive->stream);
  if (!file) return TAR_FAILURE;
  return platform::seek_file(file, position) ? TAR_SUCCESS : TAR_SEEK_FAILED;
}

int file_close(TarArchive* archive) {
  auto* file = static_cast<std::FILE*>(archive->stream);
  if (!file) return TAR_FAILURE;
  archive->stream = nullptr;
  std::fclose(file);
  return TAR_SUCCESS;
}

int memory_read(TarArchive* archive, void* destination, uint32_t count) {
  if (!archive->stream || !destination) return TAR_FAILURE;
  if (archive->position > archive->stream_length || count > archive->stream_length - archive->position)
    return TAR_READ_FAILED;
  std::memcpy(destination, static_cast<const uint8_t*>(archive->stream) + archive->position, count);
  return TAR_SUCCESS;
}

// The position field alone carries the reader's offset.
int memory_seek(TarArchive* archive, uint32_t) { return archive->stream ? TAR_SUCCESS : TAR_FAILURE; }

int memory_close(TarArchive* archive) { return archive->stream ? TAR_SUCCESS : TAR_FAILURE; }

int memory_write(TarArchive* archive, const void* source, uint32_t count) {
  if (!archive || !source) return TAR_FAILURE;
  const uint64_t end = uint64_t{archive->position} + count;
  if (end > UINT32_MAX) return TAR_WRITE_FAILED;
  if (archive->memory.size() < end) archive->memory.resize(end);
  if (count > 0) std::memcpy(archive->memory.data() + archive->position, source, count);
  return TAR_SUCCESS;
}

void reset(TarArchive* archive) {
  archive->read = nullptr;
  archive->write = nullptr;
  archive->seek = nullptr;
  archive->close = nullptr;
  archive->stream = nullptr;
  archive->position = 0;
  archive->remaining = 0;
  archive->last_header = 0;
  archive->stream_length = 0;
  archive->memory.clear();
}

// Stream reads and writes at the current position; the position advances on success.
int read_bytes(TarArchive* archive, void* destination, uint32_t count) {
  if (!archive->read) return TAR_FAILURE;
  if (count == 0) return TAR_SUCCESS;  // an empty member may come without a buffer
  const int status = archive->read(archive, destination, count);
  if (status == TAR_SUCCESS) archive->position += count;
  return status;
}

int write_bytes(TarArchive* archive, const void* source, uint32_t count) {
  if (!archive->write) return TAR_FAILURE;
  if (count == 0) return TAR_SUCCESS;
  const int status = archive->write(archive, source, count);
  if (status == TAR_SUCCESS) archive->position += count;
  return status;
}

int write_zeros(TarArchive* archive, uint32_t count) {
  static const uint8_t zeros[2 * TAR_BLOCK] = {};
  while (count > 0) {
    const uint32_t chunk = count < sizeof zeros ? count : static_cast<uint32_t>(sizeof zeros);
    const int status = write_bytes(archive, zeros, chunk);
    if (status != TAR_SUCCESS) return status;
    count -= chunk;
  }
  return TAR_SUCCESS;
}

bool is_space(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Octal scan bounded by the field: leading white space skipped, stops at the
// first non-octal character; values beyond 32 bits saturate.
uint32_t read_octal(const Block block, std::size_t offset, std::size_t width) {
  std::size_t i = 0;
  while (i < width && is_space(block[offset + i])) ++i;
  uint64_t value = 0;
  for (; i < width && block[offset + i] >= '0' && block[offset + i] <= '7'; ++i) {
    value = value * 8 + (block[offset + i] - '0');
    if (value > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<uint32_t>(value);
}

// Plain octal digits, no leading zeros, NUL-padded; false when they do not fit
// with a terminating NUL.
bool write_octal(Block block, std::size_t offset, std::size_t width, uint32_t value) {
  char digits[16];
  const int length = std::snprintf(digits, sizeof digits, "%o", static_cast<unsigned>(value));
  if (length <= 0 || static_cast<std::size_t>(length) >= width) return false;
  std::memcpy(block + offset, digits, static_cast<std::size_t>(length));
  return true;
}

void read_text(const Block block, std::size_t offset, std::size_t width, char* out) {
  std::size_t length = 0;
  while (length < width && block[offset + length] != 0) ++length;
  std::memcpy(out, block + offset, length);
  out[length] = '\0';
}

// 256 stands for the eight checksum bytes counted as spaces.
uint32_t header_checksum(const Block block) {
  uint32_t sum = 256;
  for (std::size_t i = 0; i < TAR_BLOCK; ++i)
    if (i < RAW_CHECKSUM_OFFSET || i >= RAW_CHECKSUM_OFFSET + RAW_CHECKSUM_WIDTH) sum += block[i];
  return sum;
}

uint64_t padded(uint64_t size) { return (size + (TAR_BLOCK - 1)) / TAR_BLOCK * TAR_BLOCK; }

}  // namespace

TarArchive::~TarArchive() {
  if (stream && close == file_close) file_close(this);
}

void tar_memory_reader(TarArchive* archive, const uint8_t* data, std::size_t length) {
  reset(archive);
  archive->read = memory_read;
  archive->seek = memory_seek;
  archive->close = memory_close;
  archive->stream = const_cast<uint8_t*>(data);
  archive->stream_length = data ? length : 0;
}

void tar_memory_writer(TarArchive* archive) {
  reset(archive);
  archive->write = memory_write;
}

int tar_open(TarArchive* archive, const char* path, const char* mode) {
  if (!archive || !path || !mode) return TAR_FAILURE;
  if (archive->stream && archive->close == file_close) file_close(archive);
  reset(archive);
  const char* binary_mode = mode;
  if (std::strchr(mode, 'r'))
    binary_mode = "rb";
  else if (std::strchr(mode, 'w'))
    binary_mode = "wb";
  else if (std::strchr(mode, 'a'))
    binary_mode = "ab";
  std::FILE* file = platform::open_file(path, binary_mode);
  if (!file) return TAR_OPEN_FAILED;
  archive->read = file_read;
  archive->write = file_write;
  archive->seek = file_seek;
  archive->close = file_close;
  archive->stream = file;
  if (binary_mode[0] == 'r') {
    TarHeader header;
    const int status = tar_read_header(archive, &header);
    if (status != TAR_SUCCESS) {
      file_close(archive);
      return status;
    }
  }
  return TAR_SUCCESS;
}

int tar_close(TarArchive* archive) {
  if (!archive || !archive->close) return TAR_FAILURE;
  return archive->close(archive);
}

int tar_seek(TarArchive* archive, uint32_t position) {
  if (!archive || !archive->seek) return TAR_FAILURE;
  const int status = archive->seek(archive, position);
  archive->position = position;
  return status;
}

int tar_rewind(TarArchive* archive) {
  if (!archive) return TAR_FAILURE;
  archive->remaining = 0;
  archive->last_header = 0;
  return tar_seek(archive, 0);
}

int tar_read_header(TarArchive* archive, TarHeader* header) {
  if (!archive || !header) return TAR_FAILURE;
  archive->last_header = archive->position;
  Block block;
  int status = read_bytes(archive, block, TAR_BLOCK);
  if (status != TAR_SUCCESS) return status;
  status = tar_seek(archive, archive->last_header);
  if (status != TAR_SUCCESS) return status;
  if (block[RAW_CHECKSUM_OFFSET] == 0) return TAR_NULL_RECORD;
  if (read_octal(block, RAW_CHECKSUM_OFFSET, RAW_CHECKSUM_WIDTH) != header_checksum(block)) return TAR_BAD_CHECKSUM;
  header->mode = read_octal(block, RAW_MODE_OFFSET, RAW_MODE_WIDTH);
  header->owner = read_octal(block, RAW_OWNER_OFFSET, RAW_OWNER_WIDTH);
  header->size = read_octal(block, RAW_SIZE_OFFSET, RAW_SIZE_WIDTH);
  header->mtime = read_octal(block, RAW_MTIME_OFFSET, RAW_MTIME_WIDTH);
  header->type = block[RAW_TYPE_OFFSET];
  read_text(block, RAW_NAME_OFFSET, RAW_NAME_WIDTH, header->name);
  read_text(block, RAW_LINK_OFFSET, RAW_LINK_WIDTH, header->link_name);
  return TAR_SUCCESS;
}

int tar_next(TarArchive* archive) {
  TarHeader header;
  const int status = tar_read_header(archive, &header);
  if (status != TAR_SUCCESS) return status;
  const uint64_t next = uint64_t{archive->position} + TAR_BLOCK + padded(header.size);
  // A size near 4 GiB must not wrap around to an earlier header and loop forever.
  if (next > UINT32_MAX) return TAR_SEEK_FAILED;
  return tar_seek(archive, static_cast<uint32_t>(next));
}

int tar_find(TarArchive* archive, const char* name, TarHeader* header) {
  if (!archive || !name) return TAR_FAILURE;
  int status = tar_rewind(archive);
  if (status != TAR_SUCCESS) return status;
  for (;;) {
    TarHeader current;
    status = tar_read_header(archive, &current);
    if (status == TAR_NULL_RECORD) return TAR_NOT_FOUND;
    if (status != TAR_SUCCESS) return status;
    if (std::strcmp(current.name, name) == 0) {
      if (header) *header = current;
      return TAR_SUCCESS;
    }
    // Ending here keeps a stream that cannot move from being read at the same header forever.
    status = tar_next(archive);
    if (status != TAR_SUCCESS) return status;
  }
}

int tar_read_data(TarArchive* archive, void* destination, uint32_t count) {
  if (!archive) return TAR_FAILURE;
  int status;
  if (archive->remaining == 0) {
    TarHeader header;
    status = tar_read_header(archive, &header);
    if (status != TAR_SUCCESS) return status;
    status = tar_seek(archive, archive->position + TAR_BLOCK);
    if (status != TAR_SUCCESS) return status;
    archive->remaining = header.size;
  }
  // Reading past the member would carry its padding or the next header into the data.
  if (count > archive->remaining) {
    archive->remaining = 0;
    tar_seek(archive, archive->last_header);
    return TAR_FAILURE;
  }
  status = read_bytes(archive, destination, count);
  if (status != TAR_SUCCESS) {
    archive->remaining = 0;
    return status;
  }
  archive->remaining -= count;
  if (archive->remaining == 0) return tar_seek(archive, archive->last_header);
  return TAR_SUCCESS;
}

int tar_write_header(TarArchive* archive, const TarHeader* header) {
  if (!archive || !header) return TAR_FAILURE;
  Block block = {};
  const std::size_t name_length = strnlen(header->name, sizeof header->name);
  const std::size_t link_length = strnlen(header->link_name, sizeof header->link_name);
  if (name_length > RAW_NAME_WIDTH || link_length > RAW_LINK_WIDTH) return TAR_FAILURE;
  std::memcpy(block + RAW_NAME_OFFSET, header->name, name_length);
  std::memcpy(block + RAW_LINK_OFFSET, header->link_name, link_length);
  if (!write_octal(block, RAW_MODE_OFFSET, RAW_MODE_WIDTH, header->mode) ||
      !write_octal(block, RAW_OWNER_OFFSET, RAW_OWNER_WIDTH, header->owner) ||
      !write_octal(block, RAW_SIZE_OFFSET, RAW_SIZE_WIDTH, header->size) ||
      !write_octal(block, RAW_MTIME_OFFSET, RAW_MTIME_WIDTH, header->mtime))
    return TAR_FAILURE;
  block[RAW_TYPE_OFFSET] = header->type == 0 ? '0' : static_cast<uint8_t>(header->type);
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%06o", static_cast<unsigned>(header_checksum(block)));
  std::memcpy(block + RAW_CHECKSUM_OFFSET, checksum, 6);
  block[RAW_CHECKSUM_OFFSET + 6] = 0;
  block[RAW_CHECKSUM_OFFSET + 7] = ' ';
  archive->remaining = header->size;
  return write_bytes(archive, block, TAR_BLOCK);
}

int tar_write_file_header(TarArchive* archive, const char* name, uint32_t size) {
  if (!name || std::strlen(name) > RAW_NAME_WIDTH) return TAR_FAILURE;
  TarHeader header;
  std::memcpy(header.name, name, std::strlen(name));
  header.mode = 0664;
  header.size = size;
  header.type = '0';
  return tar_write_header(archive, &header);
}

int tar_write_data(TarArchive* archive, const void* source, uint32_t count) {
  if (!archive) return TAR_FAILURE;
  // More bytes than the header announced would make the archive unreadable.
  if (count > archive->remaining) return TAR_FAILURE;
  const int status = write_bytes(archive, source, count);
  if (status != TAR_SUCCESS) return status;
  archive->remaining -= count;
  if (archive->remaining != 0) return TAR_SUCCESS;
  return write_zeros(archive, static_cast<uint32_t>(padded(archive->position) - archive->position));
}

int tar_finalize(TarArchive* archive) {
  if (!archive) return TAR_FAILURE;
  return write_zeros(archive, 2 * TAR_BLOCK);
}

const char* tar_strerror(int status) {
  switch (status) {
    case TAR_SUCCESS: return "success";
    case TAR_FAILURE: return "failure";
    case TAR_OPEN_FAILED: return "could not open";
    case TAR_READ_FAILED: return "could not read";
    case TAR_WRITE_FAILED: return "could not write";
    case TAR_SEEK_FAILED: return "could not seek";
    case TAR_BAD_CHECKSUM: return "bad checksum";
    case TAR_NULL_RECORD: return "null record";
    case TAR_NOT_FOUND: return "file not found";
    default: return "unknown error";
  }
}

std::span<const uint8_t> tar_written_bytes(const TarArchive* archive) {
  return {archive->memory.data(), archive->position};
}

bool tar_member_within(const TarArchive* archive, const TarHeader& header) {
  return uint64_t{archive->position} + TAR_BLOCK + header.size <= archive->stream_length;
}
