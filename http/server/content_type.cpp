#include "http_server.h"

#include <cstring>

namespace httpserver {

namespace {

struct ContentType {
  const char* extension;
  const char* type;
};

constexpr ContentType content_types[] = {
    {"html", "text/html; charset=utf-8"},
    {"htm", "text/html; charset=utf-8"},
    {"css", "text/css; charset=utf-8"},
    {"js", "text/javascript; charset=utf-8"},
    {"mjs", "text/javascript; charset=utf-8"},
    {"json", "application/json"},
    {"map", "application/json"},
    {"txt", "text/plain; charset=utf-8"},
    {"svg", "image/svg+xml"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"ico", "image/x-icon"},
    {"woff", "font/woff"},
    {"woff2", "font/woff2"},
    {"wasm", "application/wasm"},
};

}  // namespace

const char* content_type_for(const std::string& file) {
  std::size_t dot = file.rfind('.');
  std::size_t slash = file.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "application/octet-stream";
  std::string extension = file.substr(dot + 1);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const ContentType& entry : content_types) {
    if (extension == entry.extension) return entry.type;
  }
  return "application/octet-stream";
}

}  // namespace httpserver
