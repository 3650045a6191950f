// varnu-site's command line: one subcommand on the gateways of one site file.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "util/reporter.h"

// Runs the command line; the exit status.
int run_site(int argc, char** argv);

// ---- Shared by the subcommands ----------------------------------------------

struct SiteCommand {
  std::vector<std::string> arguments;          // the words that are not options, site file first
  std::map<std::string, std::string> options;  // "--jobs" -> "8"; a flag holds ""
  bool has(const std::string& option) const { return options.count(option) != 0; }
  std::string value(const std::string& option, const std::string& fallback = "") const;
};

struct SiteFile;
// Reads the site file; false, with every problem reported, when it cannot be used.
bool load_site(const Reporter& reporter, const std::string& path, SiteFile* site);
// Holds the site's run lock ("building.lock" beside the site file) while it
// lives: runs that write the site file, its history or its state take turns.
class SiteLock {
 public:
  explicit SiteLock(const std::string& site_path);
  ~SiteLock();
  SiteLock(const SiteLock&) = delete;
  SiteLock& operator=(const SiteLock&) = delete;
  // False (reported) when another run holds it.
  bool held(const Reporter& reporter) const;

 private:
  std::string path_;
  int handle_;
};

// Replaces the site file in one step (a new file renamed over the old) with
// `site` as changed in memory, once it reads back as a valid site file:
// comment lines, order and untouched rows stay byte for byte. False, with
// the problems reported, when nothing was written. Call it under the SiteLock.
bool rewrite_site_file(const Reporter& reporter, const SiteFile& site, const char* command);

// Aligned columns, two spaces apart, the header first.
std::string render_table(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows);

int command_list(const Reporter& reporter, const SiteCommand& command);
int command_create(const Reporter& reporter, const SiteCommand& command);
int command_add(const Reporter& reporter, const SiteCommand& command);
int command_edit(const Reporter& reporter, const SiteCommand& command);
int command_remove(const Reporter& reporter, const SiteCommand& command);
int command_status(const Reporter& reporter, const SiteCommand& command);
int command_pin(const Reporter& reporter, const SiteCommand& command);
int command_backup(const Reporter& reporter, const SiteCommand& command);
int command_log(const Reporter& reporter, const SiteCommand& command);
int command_diff(const Reporter& reporter, const SiteCommand& command);
int command_show(const Reporter& reporter, const SiteCommand& command);
int command_restore(const Reporter& reporter, const SiteCommand& command);
int command_report(const Reporter& reporter, const SiteCommand& command);
