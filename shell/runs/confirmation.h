// What the window asks before a restore or a firmware upgrade writes to a
// gateway: the chosen file's origin or information block beside the gateway's
// own status, with warnings, or a refusal when the firmware is for another model.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "firmware/firmware.h"
#include "runs/gateway_status.h"
#include "runs/tool_command.h"

// The gateway a backup came from, as its first configuration's status.txt says.
struct BackupOrigin {
  std::optional<std::string> model_name, firmware_version, serial_number;
};

// Reads the origin from a backup archive (zip of configuration tars: the first
// one) or from a single configuration tar. None when neither holds a status.txt.
std::optional<BackupOrigin> read_backup_origin(const std::string& path);

// The information block of a firmware package (".bin") or raw image (".binary");
// none when the file is not a valid one (the tool then says why).
std::optional<FirmwareInfo> read_package_info(const std::string& path);

// A restore's plan as the console tool tells it (put_backup --plan --json): what
// the restore would do with each configuration. `problem` says why there is none.
struct PlannedConfiguration {
  std::string name, outcome, reason;  // outcome: "unchanged", "convert" or "refused"
};
struct RestorePlan {
  std::vector<PlannedConfiguration> configurations;
  std::string problem;
};

// Reads the tool's plan document; a plan with `problem` set when it is none.
RestorePlan read_restore_plan(const std::string& document);

struct Confirmation {
  bool refused = false;  // nothing may be sent; `text` says why
  bool warned = false;   // `text` holds a warning
  std::string text;
};

// Refusals in the plan come first ("4 channel records cannot go down to version 2:
// upgrade the gateway to 1.5.0 first"), then the question and the plan's counts.
Confirmation restore_confirmation(const std::string& file, const std::optional<BackupOrigin>& origin,
                                  const std::string& address, const GatewayStatus& gateway,
                                  const RestorePlan& plan = {});

// A restore of `what` ("version abc1234 of hall-2") from a site's history: the
// gateway's identity against its pin ("ok", "not pinned", "other gateway at this
// address: …") comes first when it is not "ok", then as restore_confirmation.
Confirmation history_restore_confirmation(const std::string& what, const std::string& address,
                                          const GatewayStatus& gateway, const RestorePlan& plan,
                                          const std::string& identity);

Confirmation upgrade_confirmation(const std::string& file, const std::optional<FirmwareInfo>& package,
                                  const std::string& address, const GatewayStatus& gateway);

// The data rows of a CSV file (lines that are neither empty nor comments); none when it cannot be read.
std::optional<std::size_t> csv_rows(const std::string& path);

// A channel setup replaces a whole record of the gateway: which one, from how many rows.
Confirmation setup_confirmation(const std::string& file, const std::optional<std::size_t>& rows,
                                const ChannelChoice& choice, const std::string& address, const GatewayStatus& gateway);

// Compares dotted version texts part by part, numerically where both parts are
// numbers: negative, 0 or positive like strcmp.
int compare_versions(const std::string& a, const std::string& b);
