#include "server_loop.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

namespace httpserver {

namespace {

using Clock = std::chrono::steady_clock;

// How long a closing connection's further bytes are read and dropped, so that
// the client gets the answer before the socket goes (closing with unread bytes
// would reset it and may discard the answer on the way).
constexpr auto drain_time = std::chrono::seconds(2);
constexpr std::size_t read_chunk = 16384;
constexpr std::size_t send_chunk = 65536;
// New connections taken per turn of the loop, so that a flood of them never
// keeps the loop from reading the requests of those already open.
constexpr int accepts_per_turn = 64;

enum class Stage { reading, answering, draining };

struct Connection {
  Descriptor socket;
  std::string peer;
  long account = 0;
  std::uint64_t opened = 0;
  Stage stage = Stage::reading;
  Clock::time_point deadline;
  std::string in;
  HeadScanner scanner;
  Answer answer;
  std::size_t next_piece = 0;
  std::uint64_t piece_done = 0;
  std::string out;
  std::size_t out_sent = 0;
  bool closed = false;
};

class Loop {
 public:
  Loop(int listener, const Site& site, AccessLog& log) : listener_(listener), site_(site), log_(log) {}
  void run();

 private:
  void accept_new(Clock::time_point now);
  void on_readable(Connection& c, Clock::time_point now);
  void process_input(Connection& c, Clock::time_point now);
  void start_answer(Connection& c, Answer answer, const std::string& method, const std::string& target,
                    Clock::time_point now);
  void on_writable(Connection& c, Clock::time_point now);
  bool refill(Connection& c);
  void finish_answer(Connection& c, Clock::time_point now);
  void on_deadline(Connection& c, Clock::time_point now);

  int listener_;
  const Site& site_;
  AccessLog& log_;
  long own_account_ = static_cast<long>(geteuid());
  std::uint64_t accepted_ = 0;
  std::vector<std::unique_ptr<Connection>> connections_;
};

void Loop::run() {
  std::vector<pollfd> fds;
  for (;;) {
    Clock::time_point now = Clock::now();
    Clock::time_point next = now + std::chrono::hours(1);
    fds.assign(1, {listener_, POLLIN, 0});
    for (const auto& c : connections_) {
      fds.push_back({c->socket.get(), static_cast<short>(c->stage == Stage::answering ? POLLOUT : POLLIN), 0});
      next = std::min(next, c->deadline);
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
    if (poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(wait, 0))) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    now = Clock::now();
    // Connections accepted in this turn sit past the end of fds and wait for the next.
    std::size_t polled = fds.size() - 1;
    for (std::size_t i = 0; i < polled; ++i) {
      Connection& c = *connections_[i];
      if (c.closed) continue;
      short events = fds[i + 1].revents;
      if (c.stage == Stage::answering && (events & (POLLOUT | POLLHUP | POLLERR))) {
        on_writable(c, now);
        // A request that came right behind the one just answered is already here.
        if (!c.in.empty()) process_input(c, now);
      } else if (events & (POLLIN | POLLHUP | POLLERR)) {
        on_readable(c, now);
      }
      if (!c.closed && now >= c.deadline) on_deadline(c, now);
    }
    if (fds[0].revents & POLLIN) accept_new(now);
    std::erase_if(connections_, [](const auto& c) { return c->closed; });
  }
}

void Loop::accept_new(Clock::time_point now) {
  for (int taken = 0; taken < accepts_per_turn; ++taken) {
    sockaddr_in peer{};
    socklen_t peer_size = sizeof peer;
    Descriptor socket(accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &peer_size, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!socket) return;
    sockaddr_in local{};
    socklen_t local_size = sizeof local;
    getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local), &local_size);
    // When the kernel cannot tell, every client counts as the window's account:
    // the total limit and the time limits still hold.
    long account = peer_account(peer, local).value_or(own_account_);

    std::vector<OpenConnection> open;
    std::vector<Connection*> listed;
    for (const auto& c : connections_) {
      if (c->closed) continue;
      open.push_back({c->account, c->stage == Stage::answering, c->opened});
      listed.push_back(c.get());
    }
    long verdict = admit(open, account, own_account_);
    if (verdict == admit_refused) continue;
    if (verdict < static_cast<long>(listed.size())) {
      Connection& victim = *listed[static_cast<std::size_t>(verdict)];
      victim.closed = true;
      victim.socket = Descriptor();
    }
    auto c = std::make_unique<Connection>();
    c->socket = std::move(socket);
    char address[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    c->peer = std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
    c->account = account;
    c->opened = ++accepted_;
    c->deadline = now + std::chrono::seconds(request_head_seconds);
    connections_.push_back(std::move(c));
  }
}

void Loop::on_readable(Connection& c, Clock::time_point now) {
  char buffer[read_chunk];
  ssize_t n = recv(c.socket.get(), buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) {
    c.closed = true;
    return;
  }
  if (c.stage == Stage::draining) return;
  c.in.append(buffer, static_cast<std::size_t>(n));
  process_input(c, now);
}

// The method and target of a head that was refused before it was parsed, for the log.
void first_line(const std::string& in, std::string& method, std::string& target) {
  std::size_t newline = in.find('\n');
  RequestHead request;
  if (newline != std::string::npos && parse_request_head(in.substr(0, newline + 1), request) == 0) {
    method = request.method;
    target = request.target;
  }
}

// Answers the requests in `in`, as long as each answer goes out at once
// (requests sent right behind each other); stops at an incomplete head.
void Loop::process_input(Connection& c, Clock::time_point now) {
  while (!c.closed && c.stage == Stage::reading) {
    std::size_t end = 0;
    int scanned = c.scanner.scan(c.in, end);
    if (scanned == head_incomplete) return;
    if (scanned != head_complete) {
      std::string method;
      std::string target;
      first_line(c.in, method, target);
      start_answer(c, refusal(scanned), method, target, now);
      return;
    }
    RequestHead request;
    int refused = parse_request_head(c.in.substr(0, end), request);
    c.in.erase(0, end);
    c.scanner.reset();
    // A request body is never read: the connection ends after the answer instead.
    std::string length = request.value("content-length");
    if (!refused && length.find_first_not_of("0123456789") != std::string::npos) refused = 400;
    if (refused) {
      start_answer(c, refusal(refused), request.method, request.target, now);
      return;
    }
    bool has_body = request.count("transfer-encoding") > 0 || length.find_first_not_of('0') != std::string::npos;
    Answer answer = answer_request(site_, request);
    std::string connection = request.value("connection");
    std::transform(connection.begin(), connection.end(), connection.begin(), [](unsigned char ch) {
      return static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    });
    bool close = request.http10 || has_body || connection.find("close") != std::string::npos;
    if (close && !answer.close) {
      answer.head.insert(answer.head.size() - 2, "Connection: close\r\n");
      answer.close = true;
    }
    start_answer(c, std::move(answer), request.method, request.target, now);
  }
}

void Loop::start_answer(Connection& c, Answer answer, const std::string& method, const std::string& target,
                        Clock::time_point now) {
  std::time_t wall = std::time(nullptr);
  std::tm local{};
  localtime_r(&wall, &local);
  log_.write(access_log_line(local, c.peer, method, target, answer.status, answer.body_bytes));
  c.out = std::move(answer.head);
  c.out_sent = 0;
  c.answer = std::move(answer);
  c.next_piece = 0;
  c.piece_done = 0;
  c.stage = Stage::answering;
  c.deadline = now + std::chrono::seconds(send_stall_seconds);
  on_writable(c, now);
}

// Puts the next bytes of the body into `out`; false when the file ended early.
bool Loop::refill(Connection& c) {
  std::vector<Piece>& body = c.answer.body;
  while (c.next_piece < body.size()) {
    Piece& piece = body[c.next_piece];
    if (piece.length == 0) {
      c.out = std::move(piece.text);
      ++c.next_piece;
      if (!c.out.empty()) return true;
      continue;
    }
    std::uint64_t left = piece.length - c.piece_done;
    c.out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, send_chunk)));
    ssize_t n = pread(c.answer.file.get(), c.out.data(), c.out.size(), static_cast<off_t>(piece.offset + c.piece_done));
    // A file that shrank since its size was announced cannot be finished.
    if (n <= 0) return false;
    c.out.resize(static_cast<std::size_t>(n));
    c.piece_done += static_cast<std::uint64_t>(n);
    if (c.piece_done == piece.length) {
      ++c.next_piece;
      c.piece_done = 0;
    }
    return true;
  }
  c.out.clear();
  return true;
}

void Loop::on_writable(Connection& c, Clock::time_point now) {
  for (;;) {
    if (c.out_sent == c.out.size()) {
      c.out_sent = 0;
      if (!refill(c)) {
        c.closed = true;
        return;
      }
      if (c.out.empty()) {
        finish_answer(c, now);
        return;
      }
    }
    ssize_t n = send(c.socket.get(), c.out.data() + c.out_sent, c.out.size() - c.out_sent, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0) {
      c.closed = true;
      return;
    }
    c.out_sent += static_cast<std::size_t>(n);
    c.deadline = now + std::chrono::seconds(send_stall_seconds);
  }
}

void Loop::finish_answer(Connection& c, Clock::time_point now) {
  bool close = c.answer.close;
  c.answer = Answer();
  c.out = std::string();
  if (close) {
    shutdown(c.socket.get(), SHUT_WR);
    c.stage = Stage::draining;
    c.in = std::string();
    c.deadline = now + drain_time;
    return;
  }
  c.stage = Stage::reading;
  c.deadline = now + std::chrono::seconds(request_head_seconds);
}

void Loop::on_deadline(Connection& c, Clock::time_point now) {
  // A client that started a request and did not finish it in time is told so;
  // an idle one is closed without a word.
  if (c.stage == Stage::reading && c.in.find_first_not_of("\r\n") != std::string::npos) {
    std::string method;
    std::string target;
    first_line(c.in, method, target);
    start_answer(c, refusal(408), method, target, now);
    return;
  }
  c.closed = true;
}

}  // namespace

void serve(int listener, const Site& site, AccessLog& log) { Loop(listener, site, log).run(); }

}  // namespace httpserver
