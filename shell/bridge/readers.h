// The native functions that read without a console window: the gateway's
// status and the backup readers. Each hands the page one JSON object.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>

#include "runs/gateway_status.h"

using JsonReply = std::function<void(const QByteArray&)>;

// Runs the console tool's status query of `address`; `done` receives its
// outcome, at the latest after kStatusQueryLimitMs.
void QueryGatewayStatus(const std::string& address, const std::function<void(const GatewayStatus&)>& done);

// The decoded backup at `path` (a file dialog asks for it when `path` is empty).
void ShowBackup(const QString& path, const JsonReply& done);

// The differences from the backup at `old_path` to the one at `new_path` (a file dialog asks for it when empty).
void CompareBackups(const QString& old_path, const QString& new_path, const JsonReply& done);
