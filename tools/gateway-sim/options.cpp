#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

const char kUsage[] =
    "usage: gateway-sim [options]\n"
    "Plays a LUMARO gateway on 127.0.0.1: HTTP and TFTP on the same port number.\n"
    "The first line of standard output is \"gateway-sim listening on 127.0.0.1:PORT\".\n"
    "\n"
    "  --port N              port number for both protocols (default 0: a free one)\n"
    "  --model NAME          LUMARO-1 ... LUMARO-4 (default LUMARO-4)\n"
    "  --firmware-version V  (default 1.5.0)\n"
    "  --serial TEXT, --mac TEXT, --hostname TEXT, --boot-count TEXT\n"
    "  --state-dir DIR       keep the 22 configuration files under DIR (DIR/etc/config/...)\n"
    "  --log FILE            request log (default: standard error)\n"
    "  --max-upload BYTES    largest TFTP upload accepted (default 268435456)\n"
    "  --upgrade-restart-ms MS  after an accepted upgrade, restart: the status answers\n"
    "                        503 for MS, then the new version and one boot more\n"
    "  --upgrade-keeps-version  the restart comes back with the old version\n"
    "  --gateways FILE       play one gateway per line of FILE, each line holding that\n"
    "                        gateway's options as words (--serial LM4-2 --delay 20);\n"
    "                        '#' lines are comments. The command line's options apply\n"
    "                        to all, a line's own override them. One \"listening\" line\n"
    "                        per gateway, in the file's order.\n"
    "Faults (TARGET: status, restore, firmware, backup, unknown, a configuration name,\n"
    "or http for every request):\n"
    "  --delay MS            delay every HTTP reply\n"
    "  --fail TARGET=CODE    answer with this HTTP status and an HTML error page\n"
    "  --body TARGET=KIND    truncate (half, consistent length), cut (connection closed\n"
    "                        after half the announced length), garbage, empty\n"
    "  --reply TARGET=FILE   answer 200 with the bytes of FILE\n"
    "  --close TARGET        close the connection without answering\n"
    "  --silent TARGET       read the request and never answer while the client waits\n"
    "  --flood TARGET        answer with an endless body at full speed\n"
    "  --drip TARGET         answer with an endless body at 40 bytes/s\n"
    "  --redirect-loop TARGET  answer 302 to the request's own URL\n"
    "  --redirect TARGET=HOST:PORT  answer 302 to the same path on another stand-in\n"
    "                        (a loopback address only)\n"
    "  --tftp-stall N        go silent after acknowledging N data blocks\n"
    "  --tftp-error CODE     answer every TFTP write with this error code\n"
    "  --tftp-ack-delay-ms MS  wait before each TFTP acknowledgement (a slow link)\n"
    "  --tftp-options MODE   negotiate (default); ignore: no OACK, 512-byte blocks\n"
    "                        (an old server); refuse: TFTP error 8 for a block size\n"
    "                        other than 512; refuse-all: TFTP error 8 for any option\n"
    "  --tftp-grant-blksize N  grant this block size to a client that asks for one\n";

bool parse_number(const char* text, long low, long high, long* out) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  *out = value;
  return true;
}

// Splits "TARGET=VALUE"; false when there is no '=' or either side is empty.
bool split_target(const std::string& text, std::string* target, std::string* value) {
  auto equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) return false;
  *target = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return true;
}

// "127.x.y.z:PORT" or "[::1]:PORT": a redirect must never send a client off this machine.
bool loopback_address(const std::string& address) {
  const std::size_t colon = address.rfind(':');
  long port = 0;
  if (colon == std::string::npos || !parse_number(address.c_str() + colon + 1, 1, 65535, &port)) return false;
  const std::string host = address.substr(0, colon);
  if (host == "[::1]") return true;
  unsigned a = 0, b = 0, c = 0, d = 0;
  char rest = 0;
  return std::sscanf(host.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &rest) == 4 && a == 127 && b < 256 && c < 256 &&
         d < 256;
}

bool known_target(const std::string& target) {
  return target == "status" || target == "restore" || target == "firmware" || target == "backup" ||
         target == "unknown" || target == "http" || find_configuration(target) != nullptr;
}

}  // namespace

int parse_options(int argc, char** argv, Options* options, Gateway* gateway) {
  Identity& id = gateway->identity;
  Faults& faults = gateway->faults;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help") {
      std::fputs(kUsage, stdout);
      return 1;
    }
    if (name == "--upgrade-keeps-version") {
      gateway->upgrade.keeps_version = true;
      continue;
    }
    std::string value;
    auto equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      std::fprintf(stderr, "gateway-sim: %s needs a value\n", name.c_str());
      return 2;
    }
    long number = 0;
    std::string target, setting;
    bool ok = true;
    if (name == "--port") {
      ok = parse_number(value.c_str(), 0, 65535, &number);
      options->port = static_cast<int>(number);
    } else if (name == "--model") {
      ok = value.size() == 8 && value.compare(0, 7, "LUMARO-") == 0 && value[7] >= '1' && value[7] <= '4';
      id.model = value;
    } else if (name == "--firmware-version") {
      id.firmware_version = value;
    } else if (name == "--serial") {
      id.serial_number = value;
    } else if (name == "--mac") {
      id.mac = value;
    } else if (name == "--hostname") {
      id.hostname = value;
    } else if (name == "--boot-count") {
      id.boot_count = value;
    } else if (name == "--state-dir") {
      gateway->state_dir = value;
    } else if (name == "--log") {
      options->log_path = value;
    } else if (name == "--gateways") {
      options->gateways_path = value;
    } else if (name == "--max-upload") {
      ok = parse_number(value.c_str(), 0, 1L << 40, &number);
      gateway->max_upload = static_cast<std::size_t>(number);
    } else if (name == "--upgrade-restart-ms") {
      ok = parse_number(value.c_str(), 1, 3600000, &number);
      gateway->upgrade.restart_ms = static_cast<int>(number);
    } else if (name == "--delay") {
      ok = parse_number(value.c_str(), 0, 3600000, &number);
      faults.delay_ms = static_cast<int>(number);
    } else if (name == "--fail") {
      ok = split_target(value, &target, &setting) && known_target(target) &&
           parse_number(setting.c_str(), 100, 599, &number);
      faults.http_status[target] = static_cast<int>(number);
    } else if (name == "--body") {
      static const std::pair<const char*, BodyFault> kKinds[] = {{"truncate", BodyFault::Truncate},
                                                                 {"cut", BodyFault::Cut},
                                                                 {"garbage", BodyFault::Garbage},
                                                                 {"empty", BodyFault::Empty}};
      ok = split_target(value, &target, &setting) && known_target(target);
      bool kind_found = false;
      for (const auto& [kind_name, kind] : kKinds) {
        if (setting == kind_name) {
          faults.body[target] = kind;
          kind_found = true;
        }
      }
      ok = ok && kind_found;
    } else if (name == "--reply") {
      ok = split_target(value, &target, &setting) && known_target(target);
      faults.reply_file[target] = setting;
    } else if (name == "--close") {
      ok = known_target(value);
      faults.close.insert(value);
    } else if (name == "--silent") {
      ok = known_target(value);
      faults.silent.insert(value);
    } else if (name == "--flood" || name == "--drip" || name == "--redirect-loop") {
      ok = known_target(value);
      (name == "--flood" ? faults.flood : name == "--drip" ? faults.drip : faults.redirect_loop).insert(value);
    } else if (name == "--redirect") {
      ok = split_target(value, &target, &setting) && known_target(target) && loopback_address(setting);
      faults.redirect[target] = setting;
    } else if (name == "--tftp-grant-blksize") {
      ok = parse_number(value.c_str(), 8, 65464, &number);
      faults.tftp_grant_blksize = number;
    } else if (name == "--tftp-stall") {
      ok = parse_number(value.c_str(), 0, 1L << 40, &number);
      faults.tftp_stall_after = number;
    } else if (name == "--tftp-error") {
      ok = parse_number(value.c_str(), 0, 65535, &number);
      faults.tftp_error = static_cast<int>(number);
    } else if (name == "--tftp-ack-delay-ms") {
      ok = parse_number(value.c_str(), 0, 60000, &number);
      faults.tftp_ack_delay_ms = static_cast<int>(number);
    } else if (name == "--tftp-options") {
      static const std::pair<const char*, TftpOptions> kModes[] = {
          {"negotiate", TftpOptions::Negotiate},
          {"ignore", TftpOptions::Ignore},
          {"refuse", TftpOptions::Refuse},
          {"refuse-all", TftpOptions::RefuseAll}};
      ok = false;
      for (const auto& [mode_name, mode] : kModes) {
        if (value == mode_name) {
          faults.tftp_options = mode;
          ok = true;
        }
      }
    } else {
      std::fprintf(stderr, "gateway-sim: unknown option %s (see --help)\n", name.c_str());
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "gateway-sim: bad value for %s: %s\n", name.c_str(), value.c_str());
      return 2;
    }
  }
  return 0;
}

bool read_gateway_lines(const std::string& path, std::vector<std::vector<std::string>>* lines) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "gateway-sim: cannot read the gateways file %s\n", path.c_str());
    return false;
  }
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::vector<std::string> options;
    for (std::string word; words >> word;) options.push_back(word);
    if (!options.empty() && options[0][0] != '#') lines->push_back(options);
  }
  return true;
}

}  // namespace sim
