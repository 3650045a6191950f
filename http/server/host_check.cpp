#include "http_server.h"

#include <arpa/inet.h>

#include <cstring>

namespace httpserver {

namespace {

bool port_matches(const std::string& text, int port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value == port;
}

bool is_localhost(const std::string& name) {
  if (name.size() != 9) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != "localhost"[i]) return false;
  }
  return true;
}

bool is_ipv4_loopback(const std::string& name) {
  in_addr address{};
  if (inet_pton(AF_INET, name.c_str(), &address) != 1) return false;
  return reinterpret_cast<const unsigned char*>(&address.s_addr)[0] == 127;
}

bool is_ipv6_loopback(const std::string& name) {
  in6_addr address{};
  if (inet_pton(AF_INET6, name.c_str(), &address) != 1) return false;
  return std::memcmp(&address, &in6addr_loopback, sizeof address) == 0;
}

}  // namespace

bool host_is_loopback(const std::string& host, int port) {
  if (host.find('\0') != std::string::npos) return false;
  std::string name;
  std::string port_text;
  bool has_port = false;
  if (!host.empty() && host[0] == '[') {
    std::size_t close = host.find(']');
    if (close == std::string::npos) return false;
    name = host.substr(1, close - 1);
    std::string rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      has_port = true;
      port_text = rest.substr(1);
    }
    if (!is_ipv6_loopback(name)) return false;
  } else {
    std::size_t colon = host.find(':');
    name = host.substr(0, colon);
    if (colon != std::string::npos) {
      has_port = true;
      port_text = host.substr(colon + 1);
    }
    if (!is_localhost(name) && !is_ipv4_loopback(name)) return false;
  }
  return has_port ? port_matches(port_text, port) : port == 80;
}

}  // namespace httpserver
