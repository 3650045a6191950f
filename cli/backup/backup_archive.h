// The configuration archives inside a backup archive (a zip from get_backup):
// each entry named exactly like a configuration, read with the entry limit.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "backup/backup.h"

struct ZipArchive;

enum class EntryRead {
  Read,        // the bytes are the entry's
  Unreadable,  // damaged, or empty
  TooLarge,    // it would inflate beyond BACKUP_ENTRY_LIMIT; nothing was inflated
};

// Calls `visit` for each entry of a backup archive, in stored order, whose name
// is exactly a configuration's member name; folders and other names are passed
// over. `bytes` is empty unless the entry was read.
void for_each_configuration_entry(
    ZipArchive* zip,
    const std::function<void(const ConfigurationEntry&, EntryRead, const std::vector<uint8_t>& bytes)>& visit);
