#include "tftp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "tftp_protocol.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMaxPacket = 4 + tftp::kMaxBlockSize;
constexpr unsigned kDefaultTimeoutS = 1;
constexpr int kRetries = 5;
// A stalled transfer ends once its client has been quiet this long.
constexpr auto kStallQuiet = std::chrono::seconds(10);

bool same_peer(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

std::string options_text(const tftp::OptionList& options) {
  std::string text;
  for (const auto& [name, value] : options) text += " " + name + "=" + value;
  return text;
}

// The digest of an upload, taken block by block while the client prepares the
// next one; it lets tests compare what arrived without reading the upload back.
class Sha256 {
 public:
  Sha256() { EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr); }
  void add(const uint8_t* bytes, std::size_t count) { EVP_DigestUpdate(context_.get(), bytes, count); }
  std::string hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_.get(), digest, &length);
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
      text += kDigits[digest[i] >> 4];
      text += kDigits[digest[i] & 0x0F];
    }
    return text;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_{EVP_MD_CTX_new(), EVP_MD_CTX_free};
};

// One write transfer, from the request to the last acknowledgement.
class WriteTransfer {
 public:
  WriteTransfer(Gateway& gateway, const std::atomic<bool>& stop, const sockaddr_in& client)
      : gateway_(gateway), stop_(stop), client_(client) {}
  ~WriteTransfer() {
    if (socket_ >= 0) close(socket_);
  }

  void run(const tftp::Request& request) {
    socket_ = open_udp_socket(0);
    if (socket_ < 0) return;
    // Receives block for at most this long, so that waits notice the deadline and a stop.
    timeval slice{0, 200000};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
    std::string outcome = receive(request);
    std::string fields = options_text(request.options);
    if (outcome != "refused") fields += " block_size=" + std::to_string(block_size_);
    if (outcome == "ok") fields += " sha256=" + hash_.hex();
    gateway_.log.write("tftp %s %zu %s %s%s", outcome.c_str(), received_, request.opcode == tftp::kRead ? "RRQ" : "WRQ",
                       request.file.c_str(), fields.c_str());
    if (outcome == "ok") dally();
  }

 private:
  // Returns the outcome for the log.
  std::string receive(const tftp::Request& request) {
    if (request.opcode == tftp::kRead) return refuse(tftp::kAccessViolation, "reading is not supported");
    if (request.file != "flashraw.bin") return refuse(tftp::kAccessViolation, "only flashraw.bin can be written");
    if (strcasecmp(request.mode.c_str(), "octet") != 0) return refuse(tftp::kIllegalOperation, "only octet mode");
    int forced_error = gateway_.faults.tftp_error;
    if (forced_error >= 0) return refuse(static_cast<uint16_t>(forced_error), "write refused");
    const TftpOptions mode = gateway_.faults.tftp_options;
    tftp::Negotiation agreed = mode == TftpOptions::Ignore ? tftp::Negotiation{} : tftp::negotiate(request.options);
    if (mode == TftpOptions::Refuse && agreed.block_size != tftp::kDefaultBlockSize)
      return refuse(tftp::kBadOptions, "block size not supported");
    if (mode == TftpOptions::RefuseAll && !request.options.empty()) return refuse(tftp::kBadOptions, "no options");
    grant_block_size(&agreed);
    if (agreed.tsize && *agreed.tsize > gateway_.max_upload) return refuse(tftp::kDiskFull, "file too large");
    if (agreed.timeout_s) timeout_ = std::chrono::seconds(agreed.timeout_s);
    block_size_ = agreed.block_size;
    if (agreed.tsize) data_.reserve(*agreed.tsize);
    acknowledge(agreed.acknowledged.empty() ? tftp::ack_packet(0) : tftp::option_ack_packet(agreed.acknowledged));
    return receive_data();
  }

  // --tftp-grant-blksize: the OACK names that size, whatever the client asked for.
  void grant_block_size(tftp::Negotiation* agreed) const {
    const long granted = gateway_.faults.tftp_grant_blksize;
    if (granted < 0) return;
    for (auto& [name, value] : agreed->acknowledged) {
      if (strcasecmp(name.c_str(), "blksize") != 0) continue;
      value = std::to_string(granted);
      agreed->block_size = static_cast<std::size_t>(granted);
    }
  }

  std::string refuse(uint16_t code, const std::string& message) {
    send(tftp::error_packet(code, message));
    return "refused";
  }

  std::string receive_data() {
    std::vector<uint8_t> packet(kMaxPacket + 1);
    uint16_t last = 0;  // block numbers wrap from 65535 to 0 on long transfers
    uint64_t blocks = 0;
    int retries = 0;
    long stall_after = gateway_.faults.tftp_stall_after;
    while (true) {
      if (stall_after >= 0 && blocks >= static_cast<uint64_t>(stall_after)) return stall(packet);
      long length = wait_for_packet(packet, timeout_);
      if (length < 0) return "aborted";
      if (length == 0) {
        if (++retries > kRetries) return "timeout";
        send(last_sent_);
        continue;
      }
      retries = 0;
      if (length < 4) continue;
      uint16_t opcode = tftp::read_u16(packet.data());
      if (opcode == tftp::kError) return "aborted";
      if (opcode != tftp::kData) {
        send(tftp::error_packet(tftp::kIllegalOperation, "expected data"));
        return "aborted";
      }
      uint16_t block = tftp::read_u16(packet.data() + 2);
      std::size_t size = static_cast<std::size_t>(length) - 4;
      if (block == last) {  // our acknowledgement was lost
        send(last_sent_);
        continue;
      }
      if (block != static_cast<uint16_t>(last + 1) || size > block_size_) continue;
      if (received_ + size > gateway_.max_upload) {
        send(tftp::error_packet(tftp::kDiskFull, "file too large"));
        return "aborted";
      }
      const uint8_t* payload = packet.data() + 4;
      data_.insert(data_.end(), payload, payload + size);
      received_ += size;
      last = block;
      ++blocks;
      bool final = size < block_size_;
      // Keep the upload before the client hears it arrived: its next request may use it.
      if (final) keep_upload();
      acknowledge(tftp::ack_packet(block));
      hash_.add(payload, size);
      if (final) return "ok";
    }
  }

  // The client may resend its last block if our final acknowledgement was lost.
  void dally() {
    std::vector<uint8_t> packet(kMaxPacket + 1);
    long length = wait_for_packet(packet, timeout_);
    if (length >= 4 && tftp::read_u16(packet.data()) == tftp::kData) send(last_sent_);
  }

  std::string stall(std::vector<uint8_t>& packet) {
    while (true) {
      long length = wait_for_packet(packet, kStallQuiet);
      if (length <= 0 || (length >= 2 && tftp::read_u16(packet.data()) == tftp::kError)) return "stalled";
    }
  }

  void keep_upload() {
    std::lock_guard<std::mutex> lock(gateway_.mutex);
    gateway_.last_upload.data = std::move(data_);
    ++gateway_.last_upload.sequence;
  }

  // An acknowledgement goes out after the link's delay; repeats of one do not wait again.
  void acknowledge(std::vector<uint8_t> packet) {
    const int delay_ms = gateway_.faults.tftp_ack_delay_ms;
    if (delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    send(std::move(packet));
  }

  void send(std::vector<uint8_t> packet) {
    sendto(socket_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&client_), sizeof client_);
    last_sent_ = std::move(packet);
  }

  // Waits for a packet from the client: its length, 0 after `timeout` (give or take one
  // receive slice), -1 when the stand-in stops.
  // Packets from anyone else get an error packet (RFC 1350 transfer IDs).
  long wait_for_packet(std::vector<uint8_t>& packet, Clock::duration timeout) {
    auto deadline = Clock::now() + timeout;
    while (!stop_) {
      if (Clock::now() >= deadline) return 0;
      sockaddr_in from{};
      socklen_t from_length = sizeof from;
      ssize_t length = recvfrom(socket_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&from), &from_length);
      if (length < 0) continue;
      if (!same_peer(from, client_)) {
        auto error = tftp::error_packet(tftp::kUnknownTransferId, "unknown transfer ID");
        sendto(socket_, error.data(), error.size(), 0, reinterpret_cast<const sockaddr*>(&from), from_length);
        continue;
      }
      return static_cast<long>(length);
    }
    return -1;
  }

  Gateway& gateway_;
  const std::atomic<bool>& stop_;
  sockaddr_in client_;
  int socket_ = -1;
  std::size_t block_size_ = tftp::kDefaultBlockSize;
  Clock::duration timeout_ = std::chrono::seconds(kDefaultTimeoutS);
  std::vector<uint8_t> data_;
  std::size_t received_ = 0;
  Sha256 hash_;
  std::vector<uint8_t> last_sent_;
};

}  // namespace

int open_udp_socket(int port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  // Room for a burst of large blocks from fast clients.
  int buffer = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  return fd;
}

int bound_port(int socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  return ntohs(address.sin_port);
}

void serve_tftp(Gateway& gateway, int socket, const std::atomic<bool>& stop) {
  std::vector<std::thread> transfers;
  std::vector<uint8_t> packet(kMaxPacket + 1);
  while (!stop) {
    pollfd waiting{socket, POLLIN, 0};
    if (poll(&waiting, 1, 200) <= 0) continue;
    sockaddr_in client{};
    socklen_t client_length = sizeof client;
    ssize_t length = recvfrom(socket, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&client), &client_length);
    if (length < 0) continue;
    tftp::Request request;
    if (!tftp::parse_request(packet.data(), static_cast<std::size_t>(length), &request)) {
      auto error = tftp::error_packet(tftp::kIllegalOperation, "malformed request");
      sendto(socket, error.data(), error.size(), 0, reinterpret_cast<const sockaddr*>(&client), client_length);
      continue;
    }
    transfers.emplace_back([&gateway, &stop, client, request] { WriteTransfer(gateway, stop, client).run(request); });
  }
  for (auto& transfer : transfers) transfer.join();
}

}  // namespace sim
