// The backup and restore actions.
#pragma once

#include <string>
#include <vector>

// Action "get_backup": fetches the configurations into a backup archive or folder.
// Lists are nullptr when absent. 0 when every configuration was stored, 1 otherwise, 2 usage.
int get_backup(const char* ip, const char* backupfileout, const char* backupfileouttype,
               const std::vector<std::string>* backupconfig);
// Action "put_backup": restores a backup archive or a single tar onto the gateway.
int put_backup(const char* ip, const char* backupfilein);
