// gateway-sim: a stand-in for a LUMARO gateway on 127.0.0.1, for tests,
// benchmarks and the demo. One process answers HTTP (TCP) and TFTP (UDP) on
// the same port number.
//
// How to extend it:
// - Every HTTP endpoint is a function `Reply handle_xxx(Gateway&, ...)` in a
//   file of its own (backup.cpp, restore.cpp, firmware.cpp); http_server.cpp
//   routes to it and applies the fault injection around it, so a handler only
//   says what a healthy gateway would answer. Handlers run with
//   `gateway.mutex` held and may read and change any part of the state.
// - The initial content of the 22 configuration files comes from
//   seed_configuration() in content.cpp. Read and write those files only
//   through configuration_file()/store_configuration_file(), which keep the
//   --state-dir folder in step.
// - New state goes into `Gateway` below; new command-line options into
//   options.cpp (parse_options and the usage text). With --gateways one
//   process plays many gateways, one `Gateway` each (main.cpp), so state and
//   faults live there and never in globals or statics.
// - The request log has one line per HTTP request and per TFTP transfer:
//     http <status>|closed|silent|flood|drip <bytes sent> <method> <target>
//     tftp <outcome> <bytes received> <WRQ|RRQ> <file> [name=value ...]
//   with the TFTP outcome one of ok, refused, stalled, aborted, timeout, the
//   options the client sent, block_size=<bytes per block> once the transfer
//   was taken and, for complete uploads, sha256=<hex digest>.
//   Handlers may add lines of their own in the same shape,
//   "<kind> <outcome> <bytes> <VERB> <target> [name=value ...]", which
//   tests/gateway.py parses. Those in use:
//     restore <took|refused|failed> <bytes> RESTORE <path|-> [reason=...]
//     firmware <took|refused> <bytes> UPGRADE <version|-> [reason=...]
//
// The stand-in never links the console tool's library: it is an independent
// peer, so that both sides are checked against each other.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim {

// One of the gateway's 22 configurations.
struct ConfigurationFile {
  unsigned code;
  const char* name;    // configuration name of the backup endpoint, "dali1"
  const char* member;  // member name in a backup archive, "dali1.tar"
  const char* path;    // file on the gateway, "/etc/config/dali/dali1.bin"
};
constexpr unsigned kConfigurationCount = 22;
extern const ConfigurationFile kConfigurations[kConfigurationCount];
// The row with this configuration name, nullptr when there is none.
const ConfigurationFile* find_configuration(const std::string& name);

// What a handler answers.
struct Reply {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
};
// The HTML error page an embedded web server sends with `status`.
Reply html_error(int status);

struct Identity {
  std::string model = "LUMARO-4";
  std::string firmware_version = "1.5.0";
  std::string build_date = "2024-03-18";
  std::string serial_number = "LM4-000123";
  std::string mac = "02:00:00:00:01:23";
  std::string hostname = "lumaro-gateway";
  std::string ip = "127.0.0.1";
  std::string boot_count = "12";
};

// The rate of --drip: just above the 30 bytes/s a client may take for a dead connection.
constexpr int kDripBytesPerSecond = 40;

// Body faults for --body.
enum class BodyFault { Truncate, Garbage, Cut, Empty };

// How write requests with options are answered, for --tftp-options.
enum class TftpOptions {
  Negotiate,  // RFC 2347 to 2349: an OACK with the options we take
  Ignore,     // an RFC 1350 server: ACK 0 and 512-byte blocks whatever was asked
  Refuse,     // a server of 512-byte blocks only: any other block size gets error 8
  RefuseAll,  // a server without options: any option gets error 8
};

// Faults injected from the command line. A target names an endpoint ("status",
// "restore", "firmware", "backup" for every configuration, "unknown" for
// paths that are not endpoints), one configuration by name ("dali1"), or
// "http" for every request.
struct Faults {
  int delay_ms = 0;
  std::map<std::string, int> http_status;
  std::map<std::string, BodyFault> body;
  std::map<std::string, std::string> reply_file;  // target -> file whose bytes replace the body
  std::set<std::string> close;
  std::set<std::string> silent;  // requests read and never answered while the client waits
  std::set<std::string> flood;   // an endless reply at full speed
  std::set<std::string> drip;    // an endless reply at kDripBytesPerSecond
  std::set<std::string> redirect_loop;          // 302 to the request's own URL
  std::map<std::string, std::string> redirect;  // target -> loopback "HOST:PORT" a 302 sends the request to
  long tftp_grant_blksize = -1;  // block size the OACK grants whatever was asked; -1 the negotiated one
  long tftp_stall_after = -1;    // blocks acknowledged before the stand-in goes silent; -1 never
  int tftp_error = -1;           // TFTP error code answered to every write; -1 none
  int tftp_ack_delay_ms = 0;     // waited before each acknowledgement, as on a slow link
  TftpOptions tftp_options = TftpOptions::Negotiate;
};

struct Upload {
  std::vector<uint8_t> data;
  uint64_t sequence = 0;  // 0 before the first complete upload
};

class RequestLog {
 public:
  // Writes to `path`, or to standard error when it is empty. False when the file cannot be opened.
  bool open(const std::string& path);
  void write(const char* format, ...) __attribute__((format(printf, 2, 3)));
  ~RequestLog();

 private:
  std::mutex mutex_;
  std::FILE* file_ = stderr;
};

// What an accepted firmware upgrade plays, for --upgrade-restart-ms and --upgrade-keeps-version.
struct UpgradeRestart {
  int restart_ms = 0;           // 0: the new version is reported at once, without a restart
  bool keeps_version = false;   // the restart comes back with the old version (a failed install)
  std::optional<std::chrono::steady_clock::time_point> until;  // restarting until then
  std::string next_version;     // reported once restarted
};

struct Gateway {
  std::mutex mutex;  // HTTP handlers and TFTP transfers run on different threads
  Identity identity;
  std::map<std::string, std::vector<uint8_t>> files;  // gateway path -> content
  std::string state_dir;                              // empty: files live only in memory
  Upload last_upload;
  Faults faults;
  UpgradeRestart upgrade;
  std::size_t max_upload = 256u << 20;
  RequestLog log;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::atomic<bool> stopping = false;  // set once on SIGTERM/SIGINT; held requests let go
};

// The status document: the status endpoint's body and status.txt of every backup member.
std::string status_document(const Gateway& gateway);

// Endpoint handlers.
// The status endpoint; 503 while the gateway restarts after an upgrade.
Reply handle_status(Gateway& gateway);
Reply handle_backup(Gateway& gateway, const std::string& config_name);
Reply handle_restore(Gateway& gateway);
Reply handle_firmware_upgrade(Gateway& gateway, const std::string& hash, const std::string& size);

// Fills all 22 configuration files with their initial content.
void seed_configuration(Gateway& gateway);
// Seeds the files, then, with a state folder, takes the files found there and
// writes the missing ones. False (with a message on stderr) when the folder cannot be used.
bool load_configuration(Gateway& gateway);
// The file at a gateway path (re-read from the state folder when there is one); nullptr when unknown.
const std::vector<uint8_t>* configuration_file(Gateway& gateway, const std::string& path);
// Replaces a file's content, in memory and in the state folder. False when it cannot be written.
bool store_configuration_file(Gateway& gateway, const std::string& path, std::vector<uint8_t> content);

}  // namespace sim
