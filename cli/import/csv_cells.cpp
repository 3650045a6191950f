#include "import/csv_cells.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "json/json.h"
#include "util/text.h"

namespace {

constexpr uint8_t NULL_VALUE = 255;

// A JSON number's integer part, fraction dropped towards zero; saturated so
// that huge exponents cannot overflow the conversion.
int64_t number_integer(const json::JsonReader& reader) {
  const double value = std::trunc(json::token_number(reader));
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return INT64_MAX;
  if (value <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(value);
}

// The integer a number or string token stands for; false for other tokens.
bool token_integer(const json::JsonReader& reader, json::Token kind, int64_t* value) {
  if (kind == json::Token::Number) {
    *value = number_integer(reader);
    return true;
  }
  if (kind == json::Token::String) {
    *value = leading_integer(json::token_text(reader));
    return true;
  }
  return false;
}

// Hands each number and string of the first JSON array in `text` to `take`
// (and each null as 255 when `null_is_value`), until the array's first
// closing bracket, the end of the text, an error, or `take` returning false.
template <class Take>
void walk_first_array(const char* text, bool null_is_value, Take take) {
  json::JsonReader reader;
  json::open_text(reader, text);
  bool inside = false;
  for (;;) {
    const json::Token kind = json::next_token(reader);
    if (kind == json::Token::Error || kind == json::Token::Done) break;
    if (!inside) {
      inside = kind == json::Token::ArrayStart;
      continue;
    }
    if (kind == json::Token::ArrayEnd) break;
    int64_t value = 0;
    if (kind == json::Token::Null && null_is_value) {
      value = NULL_VALUE;
    } else if (!token_integer(reader, kind, &value)) {
      continue;
    }
    if (!take(value)) break;
  }
  json::close(reader);
}

}  // namespace

int64_t leading_integer(const char* text) { return static_cast<int64_t>(std::strtoll(text, nullptr, 10)); }

uint8_t low_byte(int64_t value) { return static_cast<uint8_t>(static_cast<uint64_t>(value) & 0xFF); }

bool equals_ignoring_case(const char* text, const char* word) {
  for (; *word; ++text, ++word) {
    if (std::tolower(static_cast<unsigned char>(*text)) != *word) return false;
  }
  return *text == '\0';
}

uint8_t read_address_cell(const char* text) {
  json::JsonReader reader;
  json::open_text(reader, text);
  int64_t last = 0;
  for (;;) {
    const json::Token kind = json::next_token(reader);
    if (kind == json::Token::Error || kind == json::Token::Done) break;
    int64_t value = 0;
    if (kind == json::Token::Null) {
      last = NULL_VALUE;
    } else if (token_integer(reader, kind, &value)) {
      last = value;
    }
  }
  json::close(reader);
  return low_byte(last);
}

uint16_t read_group_mask_cell(const char* text) {
  uint32_t mask = 0;
  walk_first_array(text, false, [&mask](int64_t value) {
    mask |= 1u << (static_cast<uint64_t>(value) & 31);
    return true;
  });
  return static_cast<uint16_t>(mask & 0xFFFF);
}

void read_scene_cell(const char* text, uint8_t scenes[16]) {
  std::fill(scenes, scenes + 16, NULL_VALUE);
  std::size_t next = 0;
  walk_first_array(text, true, [&](int64_t value) {
    scenes[next++] = low_byte(value);
    return next < 16;
  });
}

void read_byte_array_cell(const char* text, uint8_t bytes[32]) {
  std::fill(bytes, bytes + 32, uint8_t{0});
  std::size_t next = 0;
  walk_first_array(text, false, [&](int64_t value) {
    bytes[next++] = low_byte(value);
    return next < 32;
  });
}

void copy_name_field(uint8_t* field, std::size_t size, const std::string& name) {
  std::memset(field, 0, size);
  // The gateway's pages show the name as UTF-8: half a character would be garbage there.
  const std::string_view text(name.c_str());  // up to an embedded NUL, as the field would hold it
  std::memcpy(field, text.data(), utf8_prefix_length(text, size - 1));
}
