// The site file: a building's gateways, one CSV row each
// (name,address,model,serial,mac,notes), with '#' comment lines. The file is
// the installer's own: it is read as written and rewritten only to record
// pins, keeping every other line byte for byte.
#pragma once

#include <string>
#include <vector>

struct SiteGateway {
  std::string name;     // unique; also the gateway's folder in the history
  std::string address;  // as it goes into URLs: "192.0.2.10" or "192.0.2.10:8080"
  std::string model, serial, mac;  // the pin; empty when not pinned
  std::string notes;
  std::size_t line = 0;  // index into SiteFile::lines of its row
};

struct SiteFile {
  std::string path;
  std::vector<std::string> lines;  // the file as read, without line ends
  std::string line_end = "\n";     // "\r\n" when the file used it
  std::vector<SiteGateway> gateways;
};

// What the site file's comment lines say of the site: "# site: Building A"
// names it (default: the file's name without its folder and extension),
// "# installer: ..." the installer, each "# note: ..." adds a paragraph.
// Other comments stay private.
struct SiteHeading {
  std::string title;
  std::string installer;  // empty when not said
  std::vector<std::string> notes;
};
SiteHeading site_heading(const SiteFile& site);

// Reads and checks the site file. Returns one line per problem
// ("site.csv:7: ...", naming the row); the site may be used only when empty.
std::vector<std::string> read_site_file(const std::string& path, SiteFile* site);
// Checks site file text already in memory (for read_site_file and its tests).
std::vector<std::string> parse_site_text(const std::string& path, const std::string& text, SiteFile* site);
// The row of one gateway as CSV, quoting fields that need it.
std::string site_row(const SiteGateway& gateway);
// The file's text with each gateway's row rebuilt from its fields.
std::string site_text(const SiteFile& site);
// Writes site_text() over the file atomically. False when it could not.
bool write_site_file(const SiteFile& site);
// The gateways named, in file order; all of them when `names` is empty.
// Unknown names are returned in `unknown`.
std::vector<const SiteGateway*> select_gateways(const SiteFile& site, const std::vector<std::string>& names,
                                                std::vector<std::string>* unknown);
