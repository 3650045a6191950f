// Putting a gateway's archives from the history back onto it: the one place
// where the site reaches the console tool's restore.
#pragma once

#include <string>
#include <vector>

#include "site/gateway_run.h"
#include "util/reporter.h"

// Restores the archives onto the gateway at `address` as put_backup restores
// a backup archive. 0 when every configuration was restored, 1 otherwise.
int restore_archives(const Reporter& reporter, const std::string& address, const std::vector<FetchedArchive>& archives);
