#include "tar/tar.h"

#include <algorithm>
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

TarStatus file_read(TarArchive* archive, void* destination, uint32_t count) {
  auto* file = static_cast<std::FILE*>(archive->stream);
  if (!file || !destination) return TarStatus::Failure;
  return std::fread(destination, 1, count, file) == count ? TarStatus::Success : TarStatus::ReadFailed;
}

TarStatus file_write(TarArchive* archive, const void* source, uint32_t count) {
  auto* file = static_cast<std::FILE*>(archive->stream);
  if (!file || !source) return TarStatus::Failure;
  return std::fwrite(source, 1, count, file) == count ? TarStatus::Success : TarStatus::WriteFailed;
}

TarStatus file_seek(TarArchive* archive, uint32_t position) {
  auto* file = static_cast<std::FILE*>(archive->stream);
  if (!file) return TarStatus::Failure;
  return platform::seek_file(file, position) ? TarStatus::Success : TarStatus::SeekFailed;
}

TarStatus file_close(TarArchive* archive) {
  auto* file = static_cast<std::FILE*>(archive->stream);
  if (!file) return TarStatus::Failure;
  archive->stream = nullptr;
  std::fclose(file);
  return TarStatus::Success;
}

TarStatus memory_read(TarArchive* archive, void* destination, uint32_t count) {
  if (!archive->stream || !destination) return TarStatus::Failure;
  if (archive->position > archive->stream_length || count > archive->stream_length - archive->position)
    return TarStatus::ReadFailed;
  std::memcpy(destination, static_cast<const uint8_t*>(archive->stream) + archive->position, count);
  return TarStatus::Success;
}

// The position field alone carries the reader's offset.
TarStatus memory_seek(TarArchive* archive, uint32_t) { return archive->stream ? TarStatus::Success : TarStatus::Failure; }

TarStatus memory_close(TarArchive* archive) { return archive->stream ? TarStatus::Success : TarStatus::Failure; }

TarStatus memory_write(TarArchive* archive, const void* source, uint32_t count) {
  if (!archive || !source) return TarStatus::Failure;
  const uint64_t end = uint64_t{archive->position} + count;
  if (end > UINT32_MAX) return TarStatus::WriteFailed;
  if (archive->memory.size() < end) archive->memory.resize(end);
  if (count > 0) std::memcpy(archive->memory.data() + archive->position, source, count);
  return TarStatus::Success;
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
TarStatus read_bytes(TarArchive* archive, void* destination, uint32_t count) {
  if (!archive->read) return TarStatus::Failure;
  if (count == 0) return TarStatus::Success;  // an empty member may come without a buffer
  const TarStatus status = archive->read(archive, destination, count);
  if (status == TarStatus::Success) archive->position += count;
  return status;
}

TarStatus write_bytes(TarArchive* archive, const void* source, uint32_t count) {
  if (!archive->write) return TarStatus::Failure;
  if (count == 0) return TarStatus::Success;
  const TarStatus status = archive->write(archive, source, count);
  if (status == TarStatus::Success) archive->position += count;
  return status;
}

TarStatus write_zeros(TarArchive* archive, uint32_t count) {
  static const uint8_t zeros[2 * TAR_BLOCK] = {};
  while (count > 0) {
    const uint32_t chunk = count < sizeof zeros ? count : static_cast<uint32_t>(sizeof zeros);
    const TarStatus status = write_bytes(archive, zeros, chunk);
    if (status != TarStatus::Success) return status;
    count -= chunk;
  }
  return TarStatus::Success;
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

TarStatus tar_open(TarArchive* archive, const char* path, const char* mode) {
  if (!archive || !path || !mode) return TarStatus::Failure;
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
  if (!file) return TarStatus::OpenFailed;
  archive->read = file_read;
  archive->write = file_write;
  archive->seek = file_seek;
  archive->close = file_close;
  archive->stream = file;
  if (binary_mode[0] == 'r') {
    TarHeader header;
    const TarStatus status = tar_read_header(archive, &header);
    if (status != TarStatus::Success) {
      file_close(archive);
      return status;
    }
  }
  return TarStatus::Success;
}

TarStatus tar_close(TarArchive* archive) {
  if (!archive || !archive->close) return TarStatus::Failure;
  return archive->close(archive);
}

TarStatus tar_seek(TarArchive* archive, uint32_t position) {
  if (!archive || !archive->seek) return TarStatus::Failure;
  const TarStatus status = archive->seek(archive, position);
  archive->position = position;
  return status;
}

TarStatus tar_rewind(TarArchive* archive) {
  if (!archive) return TarStatus::Failure;
  archive->remaining = 0;
  archive->last_header = 0;
  return tar_seek(archive, 0);
}

namespace {

TarStatus parse_header(const Block block, TarHeader* header) {
  if (block[RAW_CHECKSUM_OFFSET] == 0) return TarStatus::NullRecord;
  if (read_octal(block, RAW_CHECKSUM_OFFSET, RAW_CHECKSUM_WIDTH) != header_checksum(block)) return TarStatus::BadChecksum;
  header->mode = read_octal(block, RAW_MODE_OFFSET, RAW_MODE_WIDTH);
  header->owner = read_octal(block, RAW_OWNER_OFFSET, RAW_OWNER_WIDTH);
  header->size = read_octal(block, RAW_SIZE_OFFSET, RAW_SIZE_WIDTH);
  header->mtime = read_octal(block, RAW_MTIME_OFFSET, RAW_MTIME_WIDTH);
  header->type = block[RAW_TYPE_OFFSET];
  read_text(block, RAW_NAME_OFFSET, RAW_NAME_WIDTH, header->name);
  read_text(block, RAW_LINK_OFFSET, RAW_LINK_WIDTH, header->link_name);
  return TarStatus::Success;
}

}  // namespace

TarStatus tar_read_header(TarArchive* archive, TarHeader* header) {
  if (!archive || !header) return TarStatus::Failure;
  archive->last_header = archive->position;
  Block block;
  TarStatus status = read_bytes(archive, block, TAR_BLOCK);
  if (status != TarStatus::Success) return status;
  status = tar_seek(archive, archive->last_header);
  if (status != TarStatus::Success) return status;
  return parse_header(block, header);
}

TarStatus tar_scan(const TarSource& read, uint64_t length,
                   const std::function<TarMemberAction(const TarHeader&)>& visit) {
  uint64_t remaining = length;
  uint8_t chunk[16 * TAR_BLOCK];
  for (;;) {
    // Bytes that end at a member boundary without the end marker end the archive all the same.
    if (remaining == 0) return TarStatus::NullRecord;
    Block block;
    if (remaining < TAR_BLOCK || !read(block, TAR_BLOCK)) return TarStatus::ReadFailed;
    remaining -= TAR_BLOCK;
    TarHeader header;
    const TarStatus parsed = parse_header(block, &header);
    if (parsed != TarStatus::Success) return parsed;
    const TarMemberAction action = visit(header);
    if (action.stop) return TarStatus::Success;
    // Checked before a byte of it is read: the size is the archive's word, not a fact.
    if (header.size > remaining) return TarStatus::Cut;
    uint64_t left = padded(header.size);
    uint64_t data_left = header.size;
    while (left > 0) {
      const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(left, sizeof chunk));
      if (count > remaining || !read(chunk, count)) return TarStatus::ReadFailed;
      remaining -= count;
      left -= count;
      const std::size_t data = static_cast<std::size_t>(std::min<uint64_t>(data_left, count));
      data_left -= data;
      if (action.data && data > 0) action.data({chunk, data});
    }
  }
}

TarStatus tar_next(TarArchive* archive) {
  TarHeader header;
  const TarStatus status = tar_read_header(archive, &header);
  if (status != TarStatus::Success) return status;
  const uint64_t next = uint64_t{archive->position} + TAR_BLOCK + padded(header.size);
  // A size near 4 GiB must not wrap around to an earlier header and loop forever.
  if (next > UINT32_MAX) return TarStatus::SeekFailed;
  return tar_seek(archive, static_cast<uint32_t>(next));
}

TarStatus tar_find(TarArchive* archive, const char* name, TarHeader* header) {
  if (!archive || !name) return TarStatus::Failure;
  TarStatus status = tar_rewind(archive);
  if (status != TarStatus::Success) return status;
  for (;;) {
    TarHeader current;
    status = tar_read_header(archive, &current);
    if (status == TarStatus::NullRecord) return TarStatus::NotFound;
    if (status != TarStatus::Success) return status;
    if (std::strcmp(current.name, name) == 0) {
      if (header) *header = current;
      return TarStatus::Success;
    }
    // Ending here keeps a stream that cannot move from being read at the same header forever.
    status = tar_next(archive);
    if (status != TarStatus::Success) return status;
  }
}

TarStatus tar_read_data(TarArchive* archive, void* destination, uint32_t count) {
  if (!archive) return TarStatus::Failure;
  TarStatus status;
  if (archive->remaining == 0) {
    TarHeader header;
    status = tar_read_header(archive, &header);
    if (status != TarStatus::Success) return status;
    status = tar_seek(archive, archive->position + TAR_BLOCK);
    if (status != TarStatus::Success) return status;
    archive->remaining = header.size;
  }
  // Reading past the member would carry its padding or the next header into the data.
  if (count > archive->remaining) {
    archive->remaining = 0;
    tar_seek(archive, archive->last_header);
    return TarStatus::Failure;
  }
  status = read_bytes(archive, destination, count);
  if (status != TarStatus::Success) {
    archive->remaining = 0;
    return status;
  }
  archive->remaining -= count;
  if (archive->remaining == 0) return tar_seek(archive, archive->last_header);
  return TarStatus::Success;
}

TarStatus tar_write_header(TarArchive* archive, const TarHeader* header) {
  if (!archive || !header) return TarStatus::Failure;
  Block block = {};
  const std::size_t name_length = strnlen(header->name, sizeof header->name);
  const std::size_t link_length = strnlen(header->link_name, sizeof header->link_name);
  if (name_length > RAW_NAME_WIDTH || link_length > RAW_LINK_WIDTH) return TarStatus::Failure;
  std::memcpy(block + RAW_NAME_OFFSET, header->name, name_length);
  std::memcpy(block + RAW_LINK_OFFSET, header->link_name, link_length);
  if (!write_octal(block, RAW_MODE_OFFSET, RAW_MODE_WIDTH, header->mode) ||
      !write_octal(block, RAW_OWNER_OFFSET, RAW_OWNER_WIDTH, header->owner) ||
      !write_octal(block, RAW_SIZE_OFFSET, RAW_SIZE_WIDTH, header->size) ||
      !write_octal(block, RAW_MTIME_OFFSET, RAW_MTIME_WIDTH, header->mtime))
    return TarStatus::Failure;
  block[RAW_TYPE_OFFSET] = header->type == 0 ? '0' : static_cast<uint8_t>(header->type);
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%06o", static_cast<unsigned>(header_checksum(block)));
  std::memcpy(block + RAW_CHECKSUM_OFFSET, checksum, 6);
  block[RAW_CHECKSUM_OFFSET + 6] = 0;
  block[RAW_CHECKSUM_OFFSET + 7] = ' ';
  archive->remaining = header->size;
  return write_bytes(archive, block, TAR_BLOCK);
}

TarStatus tar_write_file_header(TarArchive* archive, const char* name, uint32_t size) {
  if (!name || std::strlen(name) > RAW_NAME_WIDTH) return TarStatus::Failure;
  TarHeader header;
  std::memcpy(header.name, name, std::strlen(name));
  header.mode = 0664;
  header.size = size;
  header.type = '0';
  return tar_write_header(archive, &header);
}

TarStatus tar_write_data(TarArchive* archive, const void* source, uint32_t count) {
  if (!archive) return TarStatus::Failure;
  // More bytes than the header announced would make the archive unreadable.
  if (count > archive->remaining) return TarStatus::Failure;
  const TarStatus status = write_bytes(archive, source, count);
  if (status != TarStatus::Success) return status;
  archive->remaining -= count;
  if (archive->remaining != 0) return TarStatus::Success;
  return write_zeros(archive, static_cast<uint32_t>(padded(archive->position) - archive->position));
}

TarStatus tar_finalize(TarArchive* archive) {
  if (!archive) return TarStatus::Failure;
  return write_zeros(archive, 2 * TAR_BLOCK);
}

const char* tar_strerror(TarStatus status) {
  switch (status) {
    case TarStatus::Success: return "success";
    case TarStatus::Failure: return "failure";
    case TarStatus::OpenFailed: return "could not open";
    case TarStatus::ReadFailed: return "could not read";
    case TarStatus::WriteFailed: return "could not write";
    case TarStatus::SeekFailed: return "could not seek";
    case TarStatus::BadChecksum: return "bad checksum";
    case TarStatus::NullRecord: return "null record";
    case TarStatus::NotFound: return "file not found";
    case TarStatus::Cut: return "claims more bytes than the archive holds";
  }
  return "unknown error";
}

std::span<const uint8_t> tar_written_bytes(const TarArchive* archive) {
  return {archive->memory.data(), archive->position};
}

bool tar_member_within(const TarArchive* archive, const TarHeader& header) {
  return uint64_t{archive->position} + TAR_BLOCK + header.size <= archive->stream_length;
}
