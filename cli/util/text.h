// Text formatting shared by the layers that build URLs and messages.
#pragma once

#include <optional>
#include <string>

// printf-style formatting into a new text; absent when formatting fails or yields nothing.
std::optional<std::string> format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
