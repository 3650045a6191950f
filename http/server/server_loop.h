// The socket side of varnkit-http-server: one thread answers every connection
// from a poll loop, so a slow or silent client costs a few kilobytes and never
// holds up another; the limits of http_server.h decide who stays.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "http_server.h"

namespace httpserver {

// Owns a file descriptor.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release();
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The access log: FOLDER/http-access.log, rotated by size. The folder is
// created 0700 and the file 0600, and neither is opened through a symbolic
// link, so another account can neither read the log nor redirect it.
class AccessLog {
 public:
  // False, with the reason, when the log cannot be kept there; lines then go to standard error.
  bool open(const std::string& folder, std::size_t max_size, std::string& error);
  void write(const std::string& line);

 private:
  bool open_file(std::string& error);

  Descriptor folder_;
  Descriptor file_;
  std::size_t size_ = 0;
  std::size_t max_size_ = default_log_size;
};

// The user id that owns the client's socket of a TCP connection on this
// machine, asked of the kernel's socket table; none when it cannot tell.
std::optional<long> peer_account(const sockaddr_in& peer, const sockaddr_in& local);

struct Site {
  std::string root;     // real path of the content folder
  std::string program;  // real path of this executable, which shares the folder but is not content
  std::string key;      // from the varnkit window that started the server; empty: no identity to prove
  int port = 0;
};

// One piece of an answer's body: text, or bytes of the answer's file.
struct Piece {
  std::string text;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;  // of the file; 0 for text
};

struct Answer {
  int status = 200;
  std::string head;  // status line and fields, through the blank line
  Descriptor file;
  std::vector<Piece> body;
  std::uint64_t body_bytes = 0;
  bool close = false;  // the connection ends after this answer
};

// The answer to a request head that parsed.
Answer answer_request(const Site& site, const RequestHead& request);
// An error answer (400, 408, 414, 431) after which the connection ends.
Answer refusal(int status);

// Answers connections on `listener` (listening, non-blocking) until the process
// is ended; returns only when waiting for sockets fails.
void serve(int listener, const Site& site, AccessLog& log);

}  // namespace httpserver
