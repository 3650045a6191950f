// Listing of a configuration archive, shared by the fetch check and the writer.
#pragma once

#include <cstdint>

#include "tar/tar.h"
#include "util/reporter.h"

struct ArchiveListing {
  uint32_t members = 0;  // headers read successfully
  // The status that ended the listing: TarStatus::NullRecord is the normal end.
  TarStatus status = TarStatus::NullRecord;
  // A listed member's data runs past the end of the bytes.
  bool cut = false;
};

// Prints "\t<name> (<size> bytes)\r\n" per member of the archive in `reader`
// (a memory reader), and "\tfile error <status>.\r\n" when it ends abnormally.
ArchiveListing list_configuration_archive(const Reporter& reporter, TarArchive* reader);
