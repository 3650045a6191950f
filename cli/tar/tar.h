// Tar container: the small subset of classic (v7) tar that the gateway
// exchanges: 512-byte headers with octal text fields, no magic, no long
// names. Reader and writer work over a pluggable stream (file, memory reader
// over a byte range, growing memory writer). No operation prints anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// The outcome of every operation. The values are the codes printed in
// messages ("file error -7"), so they stay as they are.
enum class TarStatus : int {
  Success = 0,
  Failure = -1,      // no buffer or a null argument on a memory stream, bad argument
  OpenFailed = -2,   // the file could not be opened
  ReadFailed = -3,   // fewer bytes than asked could be read
  WriteFailed = -4,  // fewer bytes than asked could be written
  SeekFailed = -5,   // the stream could not be moved there
  BadChecksum = -6,  // stored and computed header checksums differ
  NullRecord = -7,   // the header's checksum field begins with NUL (end of archive)
  NotFound = -8,     // tar_find reached the end without a match
  Cut = -9,          // a member claims more bytes than remain in the archive
};

constexpr uint32_t TAR_BLOCK = 512;

// The handle over one stream. Offsets and sizes are 32-bit: archives and
// members of 4 GiB or more are outside the model. Its fields belong to the
// functions below; other code reaches them only through those.
struct TarArchive {
  TarStatus (*read)(TarArchive* archive, void* destination, uint32_t count) = nullptr;
  TarStatus (*write)(TarArchive* archive, const void* source, uint32_t count) = nullptr;
  TarStatus (*seek)(TarArchive* archive, uint32_t position) = nullptr;
  TarStatus (*close)(TarArchive* archive) = nullptr;
  // An open FILE* for the file stream; the start of the bytes for the memory reader.
  void* stream = nullptr;
  uint32_t position = 0;     // byte offset of the stream, kept here rather than by the stream
  uint32_t remaining = 0;    // data bytes of the current member not yet read or written
  uint32_t last_header = 0;  // offset of the header most recently read
  // Memory reader: the byte count behind `stream`; reads past it fail with TarStatus::ReadFailed.
  std::size_t stream_length = 0;
  // Memory writer: the archive being built; after tar_finalize it holds
  // `position` bytes, the whole archive.
  std::vector<uint8_t> memory;

  TarArchive() = default;
  TarArchive(const TarArchive&) = delete;
  TarArchive& operator=(const TarArchive&) = delete;
  // Closes a file stream that was left open.
  ~TarArchive();
};

// One parsed header. Names hold up to 100 characters plus the terminator.
struct TarHeader {
  uint32_t mode = 0;
  uint32_t owner = 0;
  uint32_t size = 0;   // bytes of member data
  uint32_t mtime = 0;  // seconds since 1970-01-01 UTC
  int type = 0;        // type character: '0' regular file, '5' directory
  char name[101] = {};
  char link_name[101] = {};
};

// Opens `path` as a file stream. Mode "r..." reads ("rb") and checks the first
// header at once (closing the file again when it fails); "w..." writes ("wb");
// "a..." appends ("ab").
TarStatus tar_open(TarArchive* archive, const char* path, const char* mode);
TarStatus tar_close(TarArchive* archive);
// Moves the stream; the position is taken over whatever the stream's result.
TarStatus tar_seek(TarArchive* archive, uint32_t position);
TarStatus tar_rewind(TarArchive* archive);
// Reads and checks the header at the current position and leaves the position there.
TarStatus tar_read_header(TarArchive* archive, TarHeader* header);
// Moves from the header at the current position to the one after its member.
TarStatus tar_next(TarArchive* archive);
// Searches the whole archive for a member named exactly `name`; on success the
// position is at its header and `header` (optional) receives it.
TarStatus tar_find(TarArchive* archive, const char* name, TarHeader* header);
// Reads `count` bytes of the member whose header is at the current position.
// When the member is read to its end the position returns to its header.
TarStatus tar_read_data(TarArchive* archive, void* destination, uint32_t count);
TarStatus tar_write_header(TarArchive* archive, const TarHeader* header);
// A regular-file header: mode 0664, owner 0, mtime 0.
TarStatus tar_write_file_header(TarArchive* archive, const char* name, uint32_t size);
// Writes member data; once the member is complete, pads it to a block boundary.
TarStatus tar_write_data(TarArchive* archive, const void* source, uint32_t count);
// Writes the end marker: 1024 NUL bytes.
TarStatus tar_finalize(TarArchive* archive);
const char* tar_strerror(TarStatus status);
// The code of `status` as messages print it.
constexpr int tar_code(TarStatus status) { return static_cast<int>(status); }

// Sets `archive` up as a reader over `length` bytes at `data` (not copied; they
// must outlive the reader).
void tar_memory_reader(TarArchive* archive, const uint8_t* data, std::size_t length);
// Sets `archive` up as an empty memory writer; the archive grows in `archive->memory`.
void tar_memory_writer(TarArchive* archive);
// The bytes a memory writer has written so far: after tar_finalize, the whole
// archive. Valid until the writer is written to again or destroyed.
std::span<const uint8_t> tar_written_bytes(const TarArchive* archive);
// True when the data of `header`, read at the current position of a memory
// reader, lies wholly inside the reader's bytes.
bool tar_member_within(const TarArchive* archive, const TarHeader& header);

// ---- Reading in order --------------------------------------------------------

// A source read once from start to end (an inflating zip entry, a file):
// fills exactly `count` bytes, or false.
using TarSource = std::function<bool(uint8_t* buffer, std::size_t count)>;

// What to do with a member, told by its header: `data` receives its bytes in
// pieces (without them it is passed over); `stop` ends the walk at once.
struct TarMemberAction {
  bool stop = false;
  std::function<void(std::span<const uint8_t>)> data;
};

// Walks the `length` bytes of an archive from `read`, calling `visit` for every
// header. Ends with NullRecord at the end marker or at the end of the bytes;
// Success when `visit` stopped it; Cut, before a byte of the member is read,
// when a member claims more than remains; BadChecksum or ReadFailed otherwise.
// Nothing is kept but one piece of the member being read.
TarStatus tar_scan(const TarSource& read, uint64_t length,
                   const std::function<TarMemberAction(const TarHeader&)>& visit);
