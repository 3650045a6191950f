// The handover report as PDF: varnu-site writes its HTML into a private
// temporary folder, a page that is never shown and may load nothing but that
// file prints it on A4 portrait, and the PDF goes where the user chose.
#pragma once

#include <QString>

#include "bridge/readers.h"

// The report of the site's gateways `names` (a JSON array of names, "[]" the whole
// site): {"path": PDF}, {"cancelled": true} or {"error": ...}.
void SiteReport(const QString& site, const QString& names, const JsonReply& reply);

// The same for one backup file (a dialog asks for it when `backup` is empty).
void BackupReport(const QString& backup, const JsonReply& reply);

// The same for the gateway at `address` as it is now: its configuration is
// backed up into the report's temporary folder first.
void GatewayReport(const QString& address, const JsonReply& reply);
