// The local half of put_backup, apart from the transfers, so that tests and
// the fuzz target can run it without a gateway.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ConfigurationEntry;
struct StatusReport;
struct Reporter;

// What a restore does with one configuration; the plan shows it, the run acts on it.
struct UploadPlan {
  const char* outcome = "refused";  // "unchanged", "convert" or "refused"
  bool record = false;              // a channel or input-device record: the versions apply
  unsigned from = 0, to = 0;        // its record version in the backup and on the gateway
  std::string reason;               // why it is refused
};

// Finds the configuration's file in the configuration archive `tar`, checks
// it, converts it to the gateway's record version and builds the one-member
// archive to upload (mode 0664, current time). Reports why a member is
// skipped. 0 when `upload` is ready, 1 when the member is skipped; `plan`
// (when given) receives the decision either way.
int prepare_upload(const Reporter& reporter, const ConfigurationEntry& entry, const StatusReport& status,
                   const uint8_t* tar, std::size_t length, std::vector<uint8_t>* upload, UploadPlan* plan = nullptr);
