// What changed on a gateway between two sets of its configuration archives,
// by their decoded content: status.txt (uptime, time) never counts, nor
// does a record that only moved to another record version.
#pragma once

#include <string>
#include <vector>

#include "inspect/inspect.h"
#include "site/gateway_run.h"

struct GatewayChanges {
  std::vector<FetchedArchive> changed;  // the new archives of the configurations that differ
  std::vector<std::string> lines;       // "hall-2: channel 1 gear 5 renamed 'A' → 'B'"
};

// The archives read as one backup, as show_backup and diff_backup read a folder.
BackupSet backup_set_of(const std::vector<FetchedArchive>& archives, const std::string& source);
// Compares `now` with `before` (empty: the gateway's first backup).
GatewayChanges compare_archives(const std::string& gateway, const std::vector<FetchedArchive>& before,
                                std::vector<FetchedArchive> now);
// One change in words, without the gateway's name.
std::string describe_change(const std::string& configuration, const FieldChange& change);
