// What the window asks before a restore or a firmware upgrade writes to a
// gateway: the chosen file's origin or information block beside the gateway's
// own status, with warnings, or a refusal when the firmware is for another model.
#pragma once

#include <optional>
#include <string>

#include "firmware/firmware.h"
#include "runs/gateway_status.h"

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

struct Confirmation {
  bool refused = false;  // nothing may be sent; `text` says why
  bool warned = false;   // `text` holds a warning
  std::string text;
};

Confirmation restore_confirmation(const std::string& file, const std::optional<BackupOrigin>& origin,
                                  const std::string& address, const GatewayStatus& gateway);

Confirmation upgrade_confirmation(const std::string& file, const std::optional<FirmwareInfo>& package,
                                  const std::string& address, const GatewayStatus& gateway);

// Compares dotted version texts part by part, numerically where both parts are
// numbers: negative, 0 or positive like strcmp.
int compare_versions(const std::string& a, const std::string& b);
