// Zip archive access for backup archives (on libzip): write entries one after
// the other, or read them by index. At most one entry is current at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct ZipArchive;

// Releases a handle without writing anything: an archive being written that
// is dropped this way leaves no file behind.
struct ZipArchiveDiscard {
  void operator()(ZipArchive* handle) const;
};
using ZipArchiveHandle = std::unique_ptr<ZipArchive, ZipArchiveDiscard>;

// Opens `path` for writing (mode 'w': the file appears, complete, only when
// zip_archive_close succeeds) or reading (mode 'r'). A negative level means 6;
// a level whose low four bits exceed 10 fails; level 0 stores.
ZipArchiveHandle zip_archive_open(const char* path, int level, char mode);
// Writing: writes the archive and moves it to its name; 0, or -1 when it could
// not be written. Reading: 0. Always releases the handle.
int zip_archive_close(ZipArchiveHandle handle);

// Writing. The entry's modification time is the time zip_entry_begin was called;
// backslashes in the name become slashes. Each returns 0 or -1.
int zip_entry_begin(ZipArchive* handle, const char* name);
int zip_entry_append(ZipArchive* handle, const void* bytes, std::size_t count);
int zip_entry_finish(ZipArchive* handle);

// Reading.
// Number of entries, or -1 without a handle.
int64_t zip_archive_entry_count(ZipArchive* handle);
// Makes the entry at `index` (0-based, stored order) current. 0 or -1.
int zip_entry_select(ZipArchive* handle, int64_t index);
// The current entry's name with backslashes as slashes; owned by the handle
// until the next select or finish. nullptr without a current entry.
const char* zip_entry_current_name(ZipArchive* handle);
// 1 for a folder entry, 0 for a file, -1 without a current entry.
int zip_entry_is_directory(ZipArchive* handle);
enum class ZipRead {
  Read,
  TooLarge,  // the entry declares more than the limit; nothing was inflated
  Failed,    // damaged, a folder entry, or inflating to more than it declares
};
// Decompresses the current entry into `out`.
ZipRead zip_entry_read_all(ZipArchive* handle, std::vector<uint8_t>* out, uint64_t limit = UINT64_MAX);

// Reading the current entry in order, a piece at a time, without holding it.
struct ZipEntryStream;
struct ZipEntryStreamClose {
  void operator()(ZipEntryStream* stream) const;
};
using ZipEntryStreamHandle = std::unique_ptr<ZipEntryStream, ZipEntryStreamClose>;
// Opens the current entry; `size` receives the size it declares (nothing is
// inflated yet, so a caller can refuse it on that). nullptr for a folder or an
// entry that cannot be opened (encrypted, unknown method).
ZipEntryStreamHandle zip_entry_open_stream(ZipArchive* handle, uint64_t* size);
// Fills exactly `count` bytes; false when the entry is damaged or would
// inflate beyond the size it declares.
bool zip_entry_stream_read(ZipEntryStream* stream, uint8_t* buffer, std::size_t count);
