// A small JSON writer: values appended to one text, commas and escaping done
// here. Text that is not valid UTF-8 (names in gateway records may be in any
// 8-bit code page) is written byte by byte as the Latin-1 characters, so the
// document always stays valid JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct JsonWriter {
  std::string out;
  std::vector<bool> has_items;  // per open object or array: something was written into it
  bool after_key = false;
};

void json_begin_object(JsonWriter& w);
void json_end_object(JsonWriter& w);
void json_begin_array(JsonWriter& w);
void json_end_array(JsonWriter& w);
void json_key(JsonWriter& w, std::string_view key);
void json_string(JsonWriter& w, std::string_view text);
void json_number(JsonWriter& w, int64_t value);
void json_bool(JsonWriter& w, bool value);
void json_null(JsonWriter& w);
// Writes already formed JSON text as one value.
void json_raw(JsonWriter& w, std::string_view json);

// `text` as a quoted JSON string.
std::string json_quote(std::string_view text);
