#include <cstring>

#include "backup/backup.h"

const ConfigurationEntry configuration_table[CONFIGURATION_COUNT + 1] = {
    {0, "systemconfig.tar", "/etc/config/system/systemconfig.bin"},
    {1, "dali1.tar", "/etc/config/dali/dali1.bin"},
    {2, "dali2.tar", "/etc/config/dali/dali2.bin"},
    {3, "dali3.tar", "/etc/config/dali/dali3.bin"},
    {4, "dali4.tar", "/etc/config/dali/dali4.bin"},
    {5, "cd1.tar", "/etc/config/dali/cd1.bin"},
    {6, "cd2.tar", "/etc/config/dali/cd2.bin"},
    {7, "cd3.tar", "/etc/config/dali/cd3.bin"},
    {8, "cd4.tar", "/etc/config/dali/cd4.bin"},
    {9, "schedules.tar", "/etc/config/schedule/schedule.bin"},
    {10, "schedulesastro.tar", "/etc/config/schedule/scheduleastro.bin"},
    {11, "rlc.tar", "/etc/config/rlc/rlc.bin"},
    {12, "commanders.tar", "/etc/config/cmdr/cmdr.bin"},
    {13, "system_ui32.tar", "/etc/config/nvp/system_ui32.bin"},
    {14, "dalv.tar", "/etc/config/nvp/dalv.bin"},
    {15, "daeu.tar", "/etc/config/nvp/daeu.bin"},
    {16, "daeutr.tar", "/etc/config/nvp/daeutr.bin"},
    {17, "daeutc.tar", "/etc/config/nvp/daeutc.bin"},
    {18, "dacdlcm.tar", "/etc/config/nvp/dacdlcm.bin"},
    {19, "dacdlcr.tar", "/etc/config/nvp/dacdlcr.bin"},
    {20, "rlcnamenvp.tar", "/etc/config/nvp/rlcnamenvp.bin"},
    {21, "cmdrnamenvp.tar", "/etc/config/nvp/cmdrnamenvp.bin"},
    {22, nullptr, nullptr},
};

// The small global settings first, then the channels, then the name tables.
const char* const default_fetch_order[CONFIGURATION_COUNT] = {
    "systemconfig", "schedules", "schedulesastro", "rlc",    "commanders", "dali1",   "dali2",      "dali3",
    "dali4",        "cd1",       "cd2",            "cd3",    "cd4",        "system_ui32", "dalv",   "daeu",
    "daeutr",       "daeutc",    "dacdlcm",        "dacdlcr", "rlcnamenvp", "cmdrnamenvp",
};

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
