// One gateway of a site at a time: who answers at its address, whether that
// is the pinned gateway, and its configuration archives, all within a time
// limit of its own. Many of these run side by side, one per worker thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "site/site_file.h"

// The gateway's own word about itself.
struct ReportedIdentity {
  std::string model, firmware, serial, mac;
};

enum class Reachability {
  Answered,      // the status report was read
  NoAnswer,      // no connection, no reply in time, or no readable report
};

struct Probe {
  Reachability reach = Reachability::NoAnswer;
  ReportedIdentity identity;
  std::string problem;   // why there is no answer, one line
  std::string mismatch;  // how the answer differs from the pin; "" when it matches or nothing is pinned
};

// One fetched configuration archive, stored exactly as received.
struct FetchedArchive {
  std::string name;  // "dali1"
  std::vector<uint8_t> tar;
};

struct GatewayFetch {
  Probe probe;
  std::vector<FetchedArchive> archives;  // those fetched; all of them only when `problem` is empty
  std::string problem;                   // what stopped the backup or which configurations are missing
};

struct RunLimits {
  std::chrono::seconds per_gateway{60};  // everything for one gateway ends within this
};

// "serial LM4-9 where LM4-1 is pinned", or "" when the gateway matches its pin.
// Model, serial and MAC are compared where pinned.
std::string pin_mismatch(const SiteGateway& pinned, const ReportedIdentity& reported);
// Reads the status report of the gateway at its address.
Probe probe_gateway(const SiteGateway& gateway, const RunLimits& limits);
// Probes, checks the pin and, when it matches, fetches every configuration in
// the default order; one that fails does not keep the others from being
// fetched. A mismatch fetches nothing.
GatewayFetch fetch_gateway(const SiteGateway& gateway, const RunLimits& limits);

// Runs `work(i)` for i in 0..count-1 on up to `jobs` threads; returns once all ended.
void run_parallel(std::size_t count, unsigned jobs, const std::function<void(std::size_t)>& work);
