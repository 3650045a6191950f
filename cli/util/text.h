// Text formatting shared by the layers that build URLs and messages.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// printf-style formatting into a new text; absent when formatting fails or yields nothing.
std::optional<std::string> format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Bytes from the gateway or a file made safe for a terminal: control bytes,
// DEL, C1 controls and bytes that are not UTF-8 become "\xNN"; the rest, UTF-8
// text included, stays as it is. Every line the tool prints passes such bytes
// through here, and only here.
std::string escape_bytes(std::string_view bytes);

// Byte count of the well-formed UTF-8 character at `at`, 0 when there is none.
std::size_t utf8_character_length(std::string_view text, std::size_t at);

// The length of the longest prefix of `text` within `limit` bytes that ends
// on a whole UTF-8 character; text that is not UTF-8 is cut at `limit` bytes.
std::size_t utf8_prefix_length(std::string_view text, std::size_t limit);
