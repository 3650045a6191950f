#include "inspect/html.h"

#include "util/text.h"

namespace {

void append_utf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// One character, by code point, as the document shows it.
void append_character(std::string& out, uint32_t code) {
  switch (code) {
    case '&': out += "&amp;"; return;
    case '<': out += "&lt;"; return;
    case '>': out += "&gt;"; return;
    case '"': out += "&quot;"; return;
    case '\'': out += "&#39;"; return;
    default: break;
  }
  if (code < 0x20) return append_utf8(out, 0x2400 + code);  // ␀ .. ␟
  if (code == 0x7F) return append_utf8(out, 0x2421);         // ␡
  if (code >= 0x80 && code <= 0x9F) return append_utf8(out, 0xFFFD);
  append_utf8(out, code);
}

void append_cell(std::string& out, const char* tag, const std::string& text) {
  out += std::string("<") + tag + ">" + html_text(text) + "</" + tag + ">";
}

}  // namespace

std::string html_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8_character_length(text, i);
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (length > 1 && lead >= 0xC4) {
      out.append(text, i, length);  // beyond U+00FF: nothing to escape or replace
    } else if (length == 2) {
      append_character(out, (lead & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu));
    } else {
      append_character(out, lead);  // ASCII, or a byte that is not UTF-8 read as Latin-1
    }
    i += length ? length : 1;
  }
  return out;
}

std::string html_element(std::string_view tag, std::string_view text, std::string_view css_class) {
  std::string out = "<" + std::string(tag);
  if (!css_class.empty()) out += " class=\"" + std::string(css_class) + "\"";
  return out + ">" + html_text(text) + "</" + std::string(tag) + ">";
}

std::string html_table(const HtmlTable& table) {
  std::string out = "<table";
  if (!table.css_class.empty()) out += " class=\"" + table.css_class + "\"";
  out += ">\n";
  if (!table.header.empty()) {
    out += "<thead><tr>";
    for (const std::string& heading : table.header) append_cell(out, "th", heading);
    out += "</tr></thead>\n";
  }
  out += "<tbody>\n";
  for (const auto& row : table.rows) {
    out += "<tr>";
    for (std::size_t c = 0; c < row.size(); ++c) append_cell(out, c == 0 && table.row_headings ? "th" : "td", row[c]);
    out += "</tr>\n";
  }
  return out + "</tbody>\n</table>\n";
}
