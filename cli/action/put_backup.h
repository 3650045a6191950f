// The local half of put_backup, apart from the transfers, so that tests and
// the fuzz target can run it without a gateway.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ConfigurationEntry;
struct StatusReport;
struct Reporter;

// Finds the configuration's file in the configuration archive `tar`, checks
// it, converts it to the gateway's record version and builds the one-member
// archive to upload (mode 0664, current time). Reports why a member is
// skipped. 0 when `upload` is ready, 1 when the member is skipped.
int prepare_upload(const Reporter& reporter, const ConfigurationEntry& entry, const StatusReport& status,
                   const uint8_t* tar, std::size_t length, std::vector<uint8_t>* upload);
