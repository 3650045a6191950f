// Putting a gateway's archives from the history back onto it: the one place
// where the site reaches the console tool's restore.
#pragma once

#include <string>
#include <vector>

#include "site/gateway_run.h"
#include "util/reporter.h"

struct RestorePlan {
  bool plan = false;               // tell what a restore would do, writing nothing
  bool json = false;               // ... also as put_backup's plan document
  const char* identity = nullptr;  // for the document: who answers at the address
};

// Restores the archives onto the gateway at `address` as put_backup restores
// a backup archive, or plans it. 0 when every configuration was restored (or
// would be), 1 otherwise.
int restore_archives(const Reporter& reporter, const std::string& address, const std::vector<FetchedArchive>& archives,
                     const RestorePlan& plan = {});
