#include "inspect/json_writer.h"

#include <cstdio>

#include "util/text.h"

namespace {

void append_escaped(std::string& out, unsigned char c) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
  out += buffer;
}

// Separates this value from the one before it in the open object or array.
void begin_value(JsonWriter& w) {
  if (w.after_key) {
    w.after_key = false;
    return;
  }
  if (!w.has_items.empty()) {
    if (w.has_items.back()) w.out += ',';
    w.has_items.back() = true;
  }
}

}  // namespace

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8_character_length(text, i);
    // DEL and the C1 controls (also a stray byte 0x80..0x9F taken as Latin-1) are
    // escaped like the C0 ones, so that no console acts on them.
    const bool c1 = (length == 0 && c >= 0x80 && c < 0xA0) ||
                    (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
    if (c1 || c == 0x7F) {
      append_escaped(out, length == 2 ? static_cast<unsigned char>(text[i + 1]) : c);
      i += length ? length : 1;
      continue;
    }
    if (length == 0) {
      // The byte as a Latin-1 character, in UTF-8.
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
      ++i;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          append_escaped(out, c);
        } else {
          out.append(text.substr(i, length));
        }
    }
    i += length;
  }
  out += '"';
  return out;
}

void json_begin_object(JsonWriter& w) {
  begin_value(w);
  w.out += '{';
  w.has_items.push_back(false);
}

void json_end_object(JsonWriter& w) {
  w.out += '}';
  w.has_items.pop_back();
}

void json_begin_array(JsonWriter& w) {
  begin_value(w);
  w.out += '[';
  w.has_items.push_back(false);
}

void json_end_array(JsonWriter& w) {
  w.out += ']';
  w.has_items.pop_back();
}

void json_key(JsonWriter& w, std::string_view key) {
  begin_value(w);
  w.out += json_quote(key);
  w.out += ':';
  w.after_key = true;
}

void json_string(JsonWriter& w, std::string_view text) { json_raw(w, json_quote(text)); }

void json_number(JsonWriter& w, int64_t value) { json_raw(w, std::to_string(value)); }

void json_bool(JsonWriter& w, bool value) { json_raw(w, value ? "true" : "false"); }

void json_null(JsonWriter& w) { json_raw(w, "null"); }

void json_raw(JsonWriter& w, std::string_view json) {
  begin_value(w);
  w.out.append(json);
}
