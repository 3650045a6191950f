// Who owns the other end of a loopback connection. Every client comes from
// 127.0.0.1, so its address says nothing; the kernel's socket table does: the
// client's socket is the one whose local end is our peer's address.
#include "server_loop.h"

#ifdef __linux__
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#endif

namespace httpserver {

#ifdef __linux__

std::optional<long> peer_account(const sockaddr_in& peer, const sockaddr_in& local) {
  static Descriptor diag(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  static const bool configured = [] {
    // The kernel answers at once; the limit only guards against a kernel that never does.
    timeval limit{0, 200000};
    return diag && setsockopt(diag.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
  }();
  if (!configured) return std::nullopt;

  struct {
    nlmsghdr header;
    inet_diag_req_v2 query;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.query.sdiag_family = AF_INET;
  message.query.sdiag_protocol = IPPROTO_TCP;
  message.query.idiag_states = ~0u;
  message.query.id.idiag_sport = peer.sin_port;
  message.query.id.idiag_dport = local.sin_port;
  std::memcpy(message.query.id.idiag_src, &peer.sin_addr, sizeof peer.sin_addr);
  std::memcpy(message.query.id.idiag_dst, &local.sin_addr, sizeof local.sin_addr);
  message.query.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.query.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(diag.get(), &message, sizeof message, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof message))
    return std::nullopt;

  alignas(nlmsghdr) char reply[8192];
  ssize_t n = recv(diag.get(), reply, sizeof reply, 0);
  if (n < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(inet_diag_msg)))) return std::nullopt;
  nlmsghdr header;
  std::memcpy(&header, reply, sizeof header);
  if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY || header.nlmsg_len > static_cast<std::size_t>(n)) return std::nullopt;
  inet_diag_msg found;
  std::memcpy(&found, reply + NLMSG_HDRLEN, sizeof found);
  return static_cast<long>(found.idiag_uid);
}

#else

std::optional<long> peer_account(const sockaddr_in&, const sockaddr_in&) { return std::nullopt; }

#endif

}  // namespace httpserver
