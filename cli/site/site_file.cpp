#include "site/site_file.h"

#include <csv.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/platform.h"
#include "util/text.h"

namespace {

const char* const COLUMNS[] = {"name", "address", "model", "serial", "mac", "notes"};
constexpr std::size_t COLUMN_COUNT = 6;
// A row far longer than any gateway needs is not a site file.
constexpr std::size_t MAX_LINE = 4096;

struct Fields {
  std::vector<std::string> cells;
};

void on_field(void* text, std::size_t length, void* data) {
  static_cast<Fields*>(data)->cells.emplace_back(static_cast<const char*>(text), length);
}

// Splits one line into its CSV fields; false when its quotes are unbalanced.
bool split_line(const std::string& line, std::vector<std::string>* cells) {
  csv_parser parser;
  if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) return false;
  Fields fields;
  const bool parsed = csv_parse(&parser, line.data(), line.size(), on_field, nullptr, &fields) == line.size() &&
                      csv_fini(&parser, on_field, nullptr, &fields) == 0;
  csv_free(&parser);
  *cells = std::move(fields.cells);
  // libcsv gives no field at all for an empty line; a row of one empty cell is still one cell.
  if (parsed && cells->empty()) cells->emplace_back();
  return parsed;
}

std::string trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool is_comment_or_blank(const std::string& line) {
  const std::string t = trim(line);
  return t.empty() || t[0] == '#';
}

// Names become folder names in the history and words in commands.
bool valid_name(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.' || name[0] == '-') return false;
  return std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
  });
}

// host, host:port or [v6]:port; nothing that would change a URL's meaning.
bool valid_address(const std::string& address) {
  if (address.empty() || address.size() > 255) return false;
  return std::all_of(address.begin(), address.end(), [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == ':' || c == '[' || c == ']';
  });
}

bool valid_model(const std::string& model) {
  return model.empty() || (model.size() == 8 && model.compare(0, 7, "LUMARO-") == 0 && model[7] >= '1' &&
                           model[7] <= '4');
}

bool hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool valid_mac(const std::string& mac) {
  if (mac.empty()) return true;
  if (mac.size() != 17) return false;
  for (std::size_t i = 0; i < mac.size(); ++i)
    if (i % 3 == 2 ? mac[i] != ':' : !hex_digit(mac[i])) return false;
  return true;
}

bool printable(const std::string& text) {
  return std::none_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

std::string quote_field(const std::string& field) {
  const bool needs = field.find_first_of(",\"\r\n") != std::string::npos || field != trim(field) ||
                     (!field.empty() && field[0] == '#');
  if (!needs) return field;
  std::string out = "\"";
  for (char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// The problem with one gateway's cells, or "" when there is none.
std::string row_problem(const SiteGateway& g) {
  if (!valid_name(g.name))
    return "name '" + escape_bytes(g.name) + "' is not usable: letters, digits, '-', '_' and '.' only, at most 64";
  if (!valid_address(g.address)) return "address '" + escape_bytes(g.address) + "' is not a host or host:port";
  if (!valid_model(g.model)) return "model '" + escape_bytes(g.model) + "' is none of LUMARO-1 to LUMARO-4";
  if (!printable(g.serial) || g.serial.size() > 64) return "serial '" + escape_bytes(g.serial) + "' is not usable";
  if (!valid_mac(g.mac)) return "MAC '" + escape_bytes(g.mac) + "' is not written as 02:00:00:00:01:23";
  if (!printable(g.notes)) return "notes hold control characters";
  return "";
}

}  // namespace

std::vector<std::string> parse_site_text(const std::string& path, const std::string& text, SiteFile* site) {
  site->path = path;
  site->lines.clear();
  site->gateways.clear();
  std::vector<std::string> problems;
  auto problem = [&](std::size_t index, const std::string& what) {
    problems.push_back(path + ":" + std::to_string(index + 1) + ": " + what);
  };
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      site->line_end = "\r\n";
    }
    site->lines.push_back(line);
  }
  // A byte-order mark from a spreadsheet's "CSV UTF-8" is not part of the header.
  std::size_t skip_bom = !site->lines.empty() && site->lines[0].compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;

  bool header_seen = false;
  std::map<std::string, std::size_t> first_line;
  for (std::size_t i = 0; i < site->lines.size(); ++i) {
    const std::string line = site->lines[i].substr(i == 0 ? skip_bom : 0);
    if (is_comment_or_blank(line)) continue;
    std::vector<std::string> cells;
    if (line.size() > MAX_LINE) {
      problem(i, "row longer than " + std::to_string(MAX_LINE) + " bytes");
      continue;
    }
    if (!split_line(line, &cells)) {
      problem(i, "row with an unbalanced quote (a row must stay on one line)");
      continue;
    }
    for (std::string& cell : cells) cell = trim(cell);
    if (!header_seen) {
      header_seen = true;
      std::string expected;
      for (const char* column : COLUMNS) expected += std::string(expected.empty() ? "" : ",") + column;
      bool same = cells.size() == COLUMN_COUNT;
      for (std::size_t c = 0; same && c < COLUMN_COUNT; ++c) same = cells[c] == COLUMNS[c];
      if (!same) problem(i, "the first row must be the header '" + expected + "'");
      continue;
    }
    if (cells.size() == COLUMN_COUNT - 1) cells.emplace_back();  // notes may be left off
    SiteGateway g;
    g.line = i;
    const std::string named = cells.empty() || cells[0].empty() ? "" : " '" + escape_bytes(cells[0]) + "'";
    if (cells.size() != COLUMN_COUNT) {
      problem(i, "row" + named + " has " + std::to_string(cells.size()) + " fields; " +
                     std::to_string(COLUMN_COUNT) + " are needed (name,address,model,serial,mac,notes)");
      continue;
    }
    g.name = cells[0];
    g.address = cells[1];
    g.model = cells[2];
    g.serial = cells[3];
    g.mac = cells[4];
    g.notes = cells[5];
    const std::string bad = row_problem(g);
    if (!bad.empty()) {
      problem(i, "row" + named + ": " + bad);
      continue;
    }
    const auto [where, fresh] = first_line.emplace(g.name, i);
    if (!fresh) {
      problem(i, "row '" + g.name + "': the name is already used on line " + std::to_string(where->second + 1));
      continue;
    }
    site->gateways.push_back(std::move(g));
  }
  // A site without gateways is one just created: valid, with nothing to do.
  if (!header_seen) problems.push_back(path + ": no header row 'name,address,model,serial,mac,notes'");
  return problems;
}

std::vector<std::string> read_site_file(const std::string& path, SiteFile* site) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {path + ": cannot be opened"};
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return {path + ": cannot be read"};
  return parse_site_text(path, text.str(), site);
}

std::string site_row(const SiteGateway& g) {
  std::string row = quote_field(g.name);
  for (const std::string* field : {&g.address, &g.model, &g.serial, &g.mac, &g.notes}) row += "," + quote_field(*field);
  return row;
}

std::string site_text(const SiteFile& site) {
  std::vector<std::string> lines = site.lines;
  for (const SiteGateway& g : site.gateways) {
    // A row whose values stay keeps its spelling: spaces, quotes, a left-off notes cell.
    std::vector<std::string> cells;
    if (split_line(lines[g.line], &cells)) {
      for (std::string& cell : cells) cell = trim(cell);
      if (cells.size() == COLUMN_COUNT - 1) cells.emplace_back();
      if (cells == std::vector<std::string>{g.name, g.address, g.model, g.serial, g.mac, g.notes}) continue;
    }
    lines[g.line] = site_row(g);
  }
  std::string text;
  for (const std::string& line : lines) text += line + site.line_end;
  return text;
}

bool write_site_file(const SiteFile& site) {
  const std::string text = site_text(site);
  return platform::write_file_replacing(site.path.c_str(), reinterpret_cast<const uint8_t*>(text.data()),
                                        text.size());
}

SiteHeading site_heading(const SiteFile& site) {
  SiteHeading heading;
  heading.title = std::filesystem::path(site.path).stem().string();
  for (const std::string& line : site.lines) {
    if (line.empty() || line[0] != '#') continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::size_t key_start = line.find_first_not_of(" \t", 1);
    if (key_start >= colon) continue;
    std::string key = line.substr(key_start, colon - key_start);
    for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const std::size_t value_start = line.find_first_not_of(" \t", colon + 1);
    const std::string value = value_start == std::string::npos ? "" : line.substr(value_start);
    if (value.empty()) continue;
    if (key == "site") heading.title = value;
    if (key == "installer") heading.installer = value;
    if (key == "note") heading.notes.push_back(value);
  }
  return heading;
}

std::vector<const SiteGateway*> select_gateways(const SiteFile& site, const std::vector<std::string>& names,
                                                std::vector<std::string>* unknown) {
  std::vector<const SiteGateway*> chosen;
  for (const std::string& name : names)
    if (std::none_of(site.gateways.begin(), site.gateways.end(), [&](const SiteGateway& g) { return g.name == name; }))
      unknown->push_back(name);
  for (const SiteGateway& g : site.gateways)
    if (names.empty() || std::find(names.begin(), names.end(), g.name) != names.end()) chosen.push_back(&g);
  return chosen;
}
