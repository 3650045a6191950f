// Naming of the backup archive that get_backup writes.
#pragma once

#include <ctime>
#include <string>

// "backup_<address>_LUMARO_<YYYYMMDD>_<HHMMSS>.zip", the address with each
// character that a file name cannot hold on common systems (<>:"/\|?*)
// replaced by an underscore.
std::string backup_archive_name(const char* address, const std::tm& when);
