#include "browser/origin_rule.h"

#include <algorithm>

#include "app/paths.h"

std::string kit_origin() { return "http://127.0.0.1:" + std::to_string(kServerPort); }

bool is_kit_origin(std::string_view origin) { return origin == kit_origin(); }

std::string origin_of(const QUrl& url) {
  return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
      .toString()
      .toStdString();
}

QUrl kit_address(const QUrl& url) {
  if (url.scheme() != "http" || url.host() != "localhost" || url.port() != kServerPort) return url;
  QUrl rewritten = url;
  rewritten.setHost("127.0.0.1");
  return rewritten;
}

std::vector<std::string> native_origins(bool kit_server_proved) {
  std::vector<std::string> origins{std::string(kShellPageScheme) + "://" + kLoadErrorPage};
  if (kit_server_proved) origins.push_back(kit_origin());
  return origins;
}

bool may_use_native(std::string_view origin, bool kit_server_proved) {
  const std::vector<std::string> origins = native_origins(kit_server_proved);
  return std::find(origins.begin(), origins.end(), origin) != origins.end();
}

Navigation navigation_rule(const QUrl& target, const std::string& from, bool shells_own) {
  if (shells_own || (!from.empty() && origin_of(target) == from)) return Navigation::Allow;
  return target.scheme() == "http" || target.scheme() == "https" ? Navigation::SystemBrowser : Navigation::Drop;
}

bool loads_in_page(const QUrl& target) {
  static const QStringList kSchemes = {"http", "https", "data", "about", "blob", "file", kShellPageScheme};
  return kSchemes.contains(target.scheme());
}
