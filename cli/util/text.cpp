#include "util/text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace {

bool is_utf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8_character_length(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace

std::size_t utf8_character_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  uint32_t lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::optional<std::string> format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) {
    va_end(args);
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

std::string escape_bytes(std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size());
  const auto escape = [&](uint8_t byte) {
    text += "\\x";
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  };
  for (std::size_t at = 0; at < bytes.size();) {
    const auto lead = static_cast<uint8_t>(bytes[at]);
    const std::size_t length = utf8_character_length(bytes, at);
    // U+0080..U+009F (C2 80..C2 9F) are the C1 controls, CSI among them.
    const bool control = lead < 0x20 || lead == 0x7F ||
                         (lead == 0xC2 && length == 2 && static_cast<uint8_t>(bytes[at + 1]) < 0xA0);
    if (length == 0 || control) {
      for (std::size_t i = 0; i < (length ? length : 1); ++i) escape(static_cast<uint8_t>(bytes[at + i]));
      at += length ? length : 1;
    } else {
      text.append(bytes.substr(at, length));
      at += length;
    }
  }
  return text;
}

std::size_t utf8_prefix_length(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  if (!is_utf8(text)) return limit;
  std::size_t end = 0;
  for (std::size_t at = 0; at < limit;) {
    at += utf8_character_length(text, at);
    if (at <= limit) end = at;
  }
  return end;
}
