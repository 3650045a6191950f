#include <cstring>

#include "backup/backup.h"

const ConfigurationEntry* find_configuration_by_member(const char* member_name) {
  if (!member_name) return nullptr;
  for (const ConfigurationEntry* entry = configuration_table; entry->member_name; ++entry)
    if (std::strcmp(entry->member_name, member_name) == 0) return entry;
  return nullptr;
}

const ConfigurationEntry* find_configuration_by_name(const char* name) {
  if (!name) return nullptr;
  const std::size_t length = std::strlen(name);
  for (const ConfigurationEntry* entry = configuration_table; entry->member_name; ++entry)
    if (std::strncmp(entry->member_name, name, length) == 0 && std::strcmp(entry->member_name + length, ".tar") == 0)
      return entry;
  return nullptr;
}
