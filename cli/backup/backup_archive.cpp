#include "backup/backup_archive.h"

#include "zip/zip.h"

void for_each_configuration_entry(
    ZipArchive* zip,
    const std::function<void(const ConfigurationEntry&, EntryRead, const std::vector<uint8_t>& bytes)>& visit) {
  const int64_t count = zip_archive_entry_count(zip);
  for (int64_t index = 0; index < count; ++index) {
    if (zip_entry_select(zip, index) != 0 || zip_entry_is_directory(zip) != 0) continue;
    const ConfigurationEntry* entry = find_configuration_by_member(zip_entry_current_name(zip));
    if (!entry) continue;
    std::vector<uint8_t> bytes;
    const ZipRead read = zip_entry_read_all(zip, &bytes, BACKUP_ENTRY_LIMIT);
    if (read != ZipRead::Read) bytes.clear();
    visit(*entry, read == ZipRead::TooLarge ? EntryRead::TooLarge : bytes.empty() ? EntryRead::Unreadable : EntryRead::Read,
          bytes);
  }
}
