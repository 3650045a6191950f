#include "server.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <fstream>
#include <iterator>

#include "paths.h"
#include "platform.h"

namespace {

constexpr unsigned kReadyTimeoutMs = 1000;
constexpr unsigned kAnswerTimeoutMs = 3000;
constexpr unsigned kStopTimeoutMs = 10000;
constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kChallengeBytes = 16;

std::string read_key(const std::string& key_file) {
  std::ifstream in(key_file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

uint32_t FindProcessIdByName(const std::string& name) {
  const std::string file_name = name.substr(name.rfind('/') + 1);
  for (const shell_platform::ProcessEntry& process : shell_platform::process_snapshot()) {
    if (process.file_name == file_name) return process.pid;
  }
  return 0;
}

std::string identity_proof(const std::string& key, const std::string& challenge) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char*>(challenge.data()), challenge.size(), digest, &length))
    return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0F];
  }
  return hex;
}

ServerIdentity check_server_identity(uint16_t port, const std::string& key) {
  const std::string challenge = shell_platform::random_hex(kChallengeBytes);
  const std::optional<std::string> answer =
      shell_platform::loopback_http_get(port, std::string(kIdentityPath) + "?challenge=" + challenge, kAnswerTimeoutMs);
  if (answer && !key.empty() && !challenge.empty() && *answer == identity_proof(key, challenge))
    return ServerIdentity::Ours;
  return shell_platform::wait_for_loopback_port(port, 0) ? ServerIdentity::Foreign : ServerIdentity::Absent;
}

ServerIdentity StartServer(const std::string& key_file) {
  std::string key;
  if (FindProcessIdByName(kServerName) == 0) {
    key = shell_platform::random_hex(kKeyBytes);
    if (!key_file.empty()) shell_platform::write_private_file(key_file, key);
    const std::string folder = server_folder(executable_folder(shell_platform::executable_path()));
    shell_platform::start_hidden(folder + kServerName, folder, {std::string(kServerKeyVariable) + "=" + key});
  } else if (!key_file.empty()) {
    key = read_key(key_file);
  }
  shell_platform::wait_for_loopback_port(kServerPort, kReadyTimeoutMs);
  return check_server_identity(kServerPort, key);
}

void StopServer() {
  const uint32_t pid = FindProcessIdByName(kServerName);
  if (pid != 0 && shell_platform::same_user(pid)) shell_platform::terminate_process(pid, kStopTimeoutMs);
}
