#include "backup/listing.h"

ArchiveListing list_configuration_archive(const Reporter& reporter, TarArchive* reader) {
  ArchiveListing listing;
  TarHeader header;
  for (;;) {
    listing.status = tar_read_header(reader, &header);
    if (listing.status != TAR_SUCCESS) break;
    report(reporter, "\t%s (%u bytes)\r\n", header.name, static_cast<unsigned>(header.size));
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
  if (listing.status != TAR_NULL_RECORD) report(reporter, "\tfile error %d.\r\n", listing.status);
  return listing;
}
