#include "backup/listing.h"

#include "util/text.h"

ArchiveListing list_configuration_archive(const Reporter& reporter, TarArchive* reader) {
  ArchiveListing listing;
  TarHeader header;
  for (;;) {
    listing.status = tar_read_header(reader, &header);
    if (listing.status != TarStatus::Success) break;
    report(reporter, "\t%s (%u bytes)\r\n", escape_bytes(header.name).c_str(), static_cast<unsigned>(header.size));
    ++listing.members;
    // The header alone is intact; a body cut inside the data must not pass as complete.
    if (!tar_member_within(reader, header)) {
      listing.status = TarStatus::ReadFailed;
      listing.cut = true;
      break;
    }
    listing.status = tar_next(reader);
    if (listing.status != TarStatus::Success) break;
  }
  if (listing.status != TarStatus::NullRecord) report(reporter, "\tfile error %d.\r\n", tar_code(listing.status));
  return listing;
}
