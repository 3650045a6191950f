// The handover report: one HTML document an installer gives the client, with
// a cover page for the site and, from a new page each, every gateway's
// identity, gear per channel, group names and input devices as its backup
// holds them. Self-contained (inline CSS, no scripts, nothing fetched) and
// laid out for A4 in black and white; printing it gives the PDF.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "inspect/inspect.h"

struct ReportGateway {
  std::string name;     // as the site calls it
  std::string address;  // empty when not known
  std::string notes;    // the installer's notes on it
  std::string source;   // where the backup comes from: "version 1a2b3c4d5e of 2026-12-08 17:40 UTC"
  std::optional<BackupSet> backup;  // none: there is no backup of it yet
};

struct ReportDocument {
  std::string title;                // the site's name
  std::string date;                 // when the report was made
  std::string installer;            // empty when not known
  std::vector<std::string> notes;   // the installer's notes on the site, one paragraph each
  std::vector<ReportGateway> gateways;
};

std::string render_report_html(const ReportDocument& report);
