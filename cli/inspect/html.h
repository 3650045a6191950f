// Building HTML from text that came from gateways, backup files and site
// files. Every such text goes through html_text(): it is always inserted as
// text, never as markup, whatever bytes it holds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// `text` escaped for element content and quoted attribute values: & < > " '
// become references; control characters become visible stand-ins (U+2400..
// for C0 and DEL, U+FFFD for C1); bytes that are not UTF-8 are read as
// Latin-1, as the JSON output reads them.
std::string html_text(std::string_view text);

// <tag class="css_class">text</tag>, the text escaped. `tag` and `css_class` are the caller's constants.
std::string html_element(std::string_view tag, std::string_view text, std::string_view css_class = "");

struct HtmlTable {
  std::string css_class;
  std::vector<std::string> header;            // column headings; none: no header row
  std::vector<std::vector<std::string>> rows;  // cell texts
  bool row_headings = false;                   // the first cell of each row heads it
};

// The table with each cell's text escaped; the header in <thead>, so that
// printing repeats it on every page the table runs over.
std::string html_table(const HtmlTable& table);
