#include "origin_rule.h"

#include <algorithm>

#include "paths.h"

namespace {

std::vector<std::string> kit_origins() {
  const std::string port = std::to_string(kServerPort);
  return {"http://127.0.0.1:" + port, "http://localhost:" + port};
}

bool contains(const std::vector<std::string>& origins, std::string_view origin) {
  return std::find(origins.begin(), origins.end(), origin) != origins.end();
}

}  // namespace

bool is_kit_origin(std::string_view origin) { return contains(kit_origins(), origin); }

std::vector<std::string> native_origins(bool kit_server_verified) {
  std::vector<std::string> origins{std::string(kShellPageScheme) + "://" + kLoadErrorPage};
  if (kit_server_verified) {
    for (const std::string& origin : kit_origins()) origins.push_back(origin);
  }
  return origins;
}

bool may_use_native(std::string_view origin, bool kit_server_verified) {
  return contains(native_origins(kit_server_verified), origin);
}
