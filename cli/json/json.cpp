#include "json/json.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace json {
namespace {

constexpr std::size_t kInitialText = 1024;

void fail(JsonReader& r, const char* format, ...) {
  if (r.failed) return;  // the first error sticks
  r.failed = true;
  va_list args;
  va_start(args, format);
  std::vsnprintf(r.message, sizeof r.message, format, args);
  va_end(args);
}

bool at_end(const JsonReader& r) { return r.pos >= r.length; }
uint8_t peek(const JsonReader& r) { return r.input[r.pos]; }

void skip_whitespace(JsonReader& r) {
  while (!at_end(r)) {
    uint8_t c = peek(r);
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
    ++r.pos;
  }
}

void begin_text(JsonReader& r) { r.text.clear(); }
void end_text(JsonReader& r) { r.text.push_back('\0'); }

void append_utf8(JsonReader& r, uint32_t cp) {
  if (cp < 0x80) {
    r.text.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    r.text.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    r.text.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    r.text.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    r.text.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    r.text.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    r.text.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    r.text.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    r.text.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    r.text.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int hex_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the four hex digits of a \u escape (the "\u" already consumed).
bool read_hex4(JsonReader& r, uint32_t* out) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    if (at_end(r)) {
      fail(r, "unterminated \\u escape");
      return false;
    }
    int digit = hex_value(peek(r));
    if (digit < 0) {
      fail(r, "invalid hex digit '%c' in \\u escape", peek(r));
      return false;
    }
    value = value * 16 + static_cast<uint32_t>(digit);
    ++r.pos;
  }
  *out = value;
  return true;
}

bool read_unicode_escape(JsonReader& r) {
  uint32_t cp;
  if (!read_hex4(r, &cp)) return false;
  if (cp >= 0xDC00 && cp <= 0xDFFF) {
    fail(r, "lone low surrogate \\u%04X", cp);
    return false;
  }
  if (cp >= 0xD800 && cp <= 0xDBFF) {
    if (r.length - r.pos < 2 || r.input[r.pos] != '\\' || r.input[r.pos + 1] != 'u') {
      fail(r, "high surrogate \\u%04X without a low surrogate", cp);
      return false;
    }
    r.pos += 2;
    uint32_t low;
    if (!read_hex4(r, &low)) return false;
    if (low < 0xDC00 || low > 0xDFFF) {
      fail(r, "high surrogate \\u%04X followed by \\u%04X", cp, low);
      return false;
    }
    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
  }
  append_utf8(r, cp);
  return true;
}

bool read_escape(JsonReader& r) {
  if (at_end(r)) {
    fail(r, "unterminated string literal");
    return false;
  }
  uint8_t c = peek(r);
  ++r.pos;
  switch (c) {
    case '"': r.text.push_back('"'); return true;
    case '\\': r.text.push_back('\\'); return true;
    case '/': r.text.push_back('/'); return true;
    case 'b': r.text.push_back('\b'); return true;
    case 'f': r.text.push_back('\f'); return true;
    case 'n': r.text.push_back('\n'); return true;
    case 'r': r.text.push_back('\r'); return true;
    case 't': r.text.push_back('\t'); return true;
    case 'u': return read_unicode_escape(r);
    default: fail(r, "invalid escape '\\%c'", c); return false;
  }
}

// Copies one raw UTF-8 sequence whose lead byte is at pos (>= 0x80), rejecting
// overlong forms, surrogates and code points above 10FFFF.
bool read_utf8_sequence(JsonReader& r) {
  uint8_t lead = peek(r);
  std::size_t need;
  uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    fail(r, "invalid UTF-8 lead byte 0x%02X", lead);
    return false;
  }
  if (r.length - r.pos <= need) {
    fail(r, "truncated UTF-8 sequence");
    return false;
  }
  for (std::size_t i = 1; i <= need; ++i) {
    uint8_t c = r.input[r.pos + i];
    uint8_t lo = i == 1 ? low : 0x80, hi = i == 1 ? high : 0xBF;
    if (c < lo || c > hi) {
      fail(r, "invalid UTF-8 continuation byte 0x%02X", c);
      return false;
    }
  }
  r.text.insert(r.text.end(), r.input + r.pos, r.input + r.pos + need + 1);
  r.pos += need + 1;
  return true;
}

// Reads a string literal; pos is at the opening quote.
bool read_string(JsonReader& r) {
  ++r.pos;
  begin_text(r);
  for (;;) {
    if (at_end(r)) {
      fail(r, "unterminated string literal");
      return false;
    }
    uint8_t c = peek(r);
    if (c == '"') {
      ++r.pos;
      end_text(r);
      return true;
    }
    if (c == '\\') {
      ++r.pos;
      if (!read_escape(r)) return false;
    } else if (c < 0x20) {
      fail(r, "control byte 0x%02X in string literal", c);
      return false;
    } else if (c >= 0x80) {
      if (!read_utf8_sequence(r)) return false;
    } else {
      r.text.push_back(static_cast<char>(c));
      ++r.pos;
    }
  }
}

bool is_digit(const JsonReader& r) { return !at_end(r) && peek(r) >= '0' && peek(r) <= '9'; }

// Copies a run of one or more digits; false when there is none.
bool read_digits(JsonReader& r, const char* what) {
  if (!is_digit(r)) {
    fail(r, "expected a digit %s", what);
    return false;
  }
  while (is_digit(r)) r.text.push_back(static_cast<char>(r.input[r.pos++]));
  return true;
}

// Reads a number; it ends at the first byte that cannot continue it, which is left for the next token.
bool read_number(JsonReader& r) {
  begin_text(r);
  if (peek(r) == '-') r.text.push_back(static_cast<char>(r.input[r.pos++]));
  if (!is_digit(r)) {
    fail(r, "expected a digit after '-'");
    return false;
  }
  if (peek(r) == '0') {
    r.text.push_back(static_cast<char>(r.input[r.pos++]));
  } else if (!read_digits(r, "in number")) {
    return false;
  }
  if (!at_end(r) && peek(r) == '.') {
    r.text.push_back(static_cast<char>(r.input[r.pos++]));
    if (!read_digits(r, "after '.'")) return false;
  }
  if (!at_end(r) && (peek(r) == 'e' || peek(r) == 'E')) {
    r.text.push_back(static_cast<char>(r.input[r.pos++]));
    if (!at_end(r) && (peek(r) == '+' || peek(r) == '-')) r.text.push_back(static_cast<char>(r.input[r.pos++]));
    if (!read_digits(r, "in exponent")) return false;
  }
  end_text(r);
  return true;
}

bool read_literal(JsonReader& r, const char* word) {
  std::size_t n = std::strlen(word);
  if (r.length - r.pos < n || std::memcmp(r.input + r.pos, word, n) != 0) {
    fail(r, "invalid literal, expected '%s'", word);
    return false;
  }
  r.pos += n;
  return true;
}

Token read_value(JsonReader& r) {
  if (at_end(r)) {
    fail(r, "unexpected end of input, expected a value");
    return Token::Error;
  }
  if (!r.stack.empty()) {
    r.stack.back().count++;
    r.stack.back().after_name = false;
  }
  uint8_t c = peek(r);
  switch (c) {
    case '{':
      ++r.pos;
      r.stack.push_back({true, 0, false});
      return Token::ObjectStart;
    case '[':
      ++r.pos;
      r.stack.push_back({false, 0, false});
      return Token::ArrayStart;
    case '"':
      return read_string(r) ? Token::String : Token::Error;
    case 't':
      return read_literal(r, "true") ? Token::True : Token::Error;
    case 'f':
      return read_literal(r, "false") ? Token::False : Token::Error;
    case 'n':
      return read_literal(r, "null") ? Token::Null : Token::Error;
    default:
      if (c == '-' || (c >= '0' && c <= '9')) return read_number(r) ? Token::Number : Token::Error;
      fail(r, "unexpected byte '%c' in value", c);
      return Token::Error;
  }
}

// After the first element a ',' must come before the next one, or ']' ends the array.
Token next_in_array(JsonReader& r) {
  if (at_end(r)) {
    fail(r, "unterminated array");
    return Token::Error;
  }
  if (peek(r) == ']') {
    ++r.pos;
    r.stack.pop_back();
    return Token::ArrayEnd;
  }
  if (r.stack.back().count > 0) {
    if (peek(r) != ',') {
      fail(r, "expected ',' or ']' after array element");
      return Token::Error;
    }
    ++r.pos;
    skip_whitespace(r);
  }
  return read_value(r);
}

Token next_in_object(JsonReader& r) {
  JsonReader::Level& level = r.stack.back();
  if (at_end(r)) {
    fail(r, "unterminated object");
    return Token::Error;
  }
  if (level.after_name) {
    if (peek(r) != ':') {
      fail(r, "expected ':' after member name");
      return Token::Error;
    }
    ++r.pos;
    skip_whitespace(r);
    return read_value(r);
  }
  if (peek(r) == '}') {
    ++r.pos;
    r.stack.pop_back();
    return Token::ObjectEnd;
  }
  if (level.count > 0) {
    if (peek(r) != ',') {
      fail(r, "expected ',' or '}' after object member");
      return Token::Error;
    }
    ++r.pos;
    skip_whitespace(r);
  }
  if (at_end(r) || peek(r) != '"') {
    fail(r, "expected a member name");
    return Token::Error;
  }
  if (!read_string(r)) return Token::Error;
  level.after_name = true;
  return Token::String;
}

Token advance(JsonReader& r) {
  skip_whitespace(r);
  if (r.stack.empty()) {
    // Streaming: text after the first complete value is never examined.
    if (r.tokens > 0 || at_end(r)) return Token::Done;
    return read_value(r);
  }
  return r.stack.back().object ? next_in_object(r) : next_in_array(r);
}

}  // namespace

void open_bytes(JsonReader& reader, const void* bytes, std::size_t count) {
  reader = JsonReader{};
  reader.input = static_cast<const uint8_t*>(bytes);
  reader.length = bytes ? count : 0;
  reader.text.reserve(kInitialText);
  reader.streaming = true;
}

void open_text(JsonReader& reader, const char* text) { open_bytes(reader, text, text ? std::strlen(text) : 0); }

Token next_token(JsonReader& reader) {
  if (reader.failed) return Token::Error;
  Token kind;
  try {
    kind = advance(reader);
  } catch (const std::bad_alloc&) {
    reader.out_of_memory = !reader.failed;
    fail(reader, "out of memory");
    kind = Token::Error;
  }
  if (reader.failed) kind = Token::Error;
  if (kind != Token::Error && kind != Token::Done) ++reader.tokens;
  reader.kind = kind;
  return kind;
}

const char* token_text(const JsonReader& reader, std::size_t* out_length) {
  bool has_text = (reader.kind == Token::String || reader.kind == Token::Number) && !reader.text.empty();
  if (out_length) *out_length = has_text ? reader.text.size() : 1;
  return has_text ? reader.text.data() : "";
}

double token_number(const JsonReader& reader) {
  if (reader.kind != Token::Number || reader.text.empty()) return 0;
  return std::strtod(reader.text.data(), nullptr);
}

void close(JsonReader& reader) { reader = JsonReader{}; }

const char* token_name(Token kind) {
  static const char* const names[] = {"Error",    "Done",   "ObjectStart", "ObjectEnd", "ArrayStart", "ArrayEnd",
                                      "String", "Number", "True",        "False",     "Null"};
  return names[static_cast<int>(kind)];
}

const char* error_message(const JsonReader& reader) { return reader.message; }

bool ran_out_of_memory(const JsonReader& reader) { return reader.out_of_memory; }

}  // namespace json
