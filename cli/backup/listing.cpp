#include "backup/listing.h"

#include <cstdio>

ArchiveListing list_configuration_archive(TarArchive* reader) {
  ArchiveListing listing;
  TarHeader header;
  for (;;) {
    listing.status = tar_read_header(reader, &header);
    if (listing.status != TAR_SUCCESS) break;
    std::printf("\t%s (%u bytes)\r\n", header.name, static_cast<unsigned>(header.size));
    ++listing.members;
    // The header alone is intact; a body cut inside the data must not pass as complete.
    if (!tar_member_within(reader, header)) {
      listing.status = TAR_READ_FAILED;
      listing.cut = true;
      break;
    }
    listing.status = tar_next(reader);
    if (listing.status != TAR_SUCCESS) break;
  }
  if (listing.status != TAR_NULL_RECORD) std::printf("\tfile error %d.\r\n", listing.status);
  return listing;
}
