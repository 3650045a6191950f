#include "util/json_writer.h"

#include <cstdio>

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

std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length;
  uint32_t code;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3Fu);
  }
  // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
  const uint32_t lowest = length == 3 ? 0x800 : 0x10000;
  if ((length > 2 && code < lowest) || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8_sequence_length(text, i);
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
