#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "backup/backup.h"

// Any body, as a gateway might send it: listing, search and member reads must
// stay inside the bytes and end, and the check must give one of its results.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  // An exact-size copy, so that any read past the end is caught by the sanitizer.
  std::vector<uint8_t> body(data, data + size);

  TarArchive tar;
  tar_memory_reader(&tar, body.data(), body.size());
  TarHeader header;
  for (int members = 0; tar_read_header(&tar, &header) == TarStatus::Success && members < 10000; ++members) {
    const uint32_t at = tar.position;
    if (uint64_t{at} + TAR_BLOCK + header.size <= body.size()) {
      std::vector<uint8_t> member(header.size);
      if (tar_read_data(&tar, member.data(), header.size) != TarStatus::Success || tar.position != at) __builtin_trap();
    }
    if (tar_next(&tar) != TarStatus::Success) break;
    if (tar.position <= at) __builtin_trap();  // the listing always moves on
  }
  tar_find(&tar, "status.txt", &header);

  FetchedConfiguration record;
  record.buffer.data = std::move(body);
  const ArchiveCheck result = check_configuration_archive(Reporter{}, &record);
  if (result == ArchiveCheck::Passed && !record.model_name && !record.mac) {
    // Passing without status values is only possible with an empty status.txt.
    TarArchive again;
    tar_memory_reader(&again, record.buffer.data.data(), record.buffer.data.size());
    if (tar_find(&again, "status.txt", &header) != TarStatus::Success) __builtin_trap();
  }
  return 0;
}
