#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server_loop.h"

using httpserver::Descriptor;
using httpserver::peer_account;

TEST(HttpPeerAccount, NamesTheOwnerOfTheClientSocket) {
  Descriptor listener(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(listen(listener.get(), 1), 0);
  ASSERT_EQ(getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
  Descriptor client(socket(AF_INET, SOCK_STREAM, 0));
  ASSERT_EQ(connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  sockaddr_in peer{};
  socklen_t peer_size = sizeof peer;
  Descriptor accepted(accept(listener.get(), reinterpret_cast<sockaddr*>(&peer), &peer_size));
  sockaddr_in local{};
  socklen_t local_size = sizeof local;
  ASSERT_EQ(getsockname(accepted.get(), reinterpret_cast<sockaddr*>(&local), &local_size), 0);

  EXPECT_EQ(peer_account(peer, local), std::optional<long>(static_cast<long>(geteuid())));
  // A connection that does not exist has no owner.
  sockaddr_in nobody = peer;
  nobody.sin_port = htons(static_cast<uint16_t>(ntohs(peer.sin_port) ^ 1));
  EXPECT_EQ(peer_account(nobody, local), std::nullopt);
}
