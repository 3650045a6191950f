// gateway-sim: HTTP and TFTP of a LUMARO gateway on one port number of 127.0.0.1.
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "gateway.h"
#include "http_server.h"
#include "options.h"
#include "tftp_server.h"

namespace {

// Binds UDP first and then TCP to the same number; with port 0 tries free
// numbers until one is free for both. The UDP socket, or -1.
int bind_both(httplib::Server& server, int port) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    int udp = sim::open_udp_socket(port);
    if (udp < 0) return -1;
    if (server.bind_to_port("127.0.0.1", sim::bound_port(udp))) return udp;
    close(udp);
    if (port != 0) return -1;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  sim::Gateway gateway;
  sim::Options options;
  int parsed = sim::parse_options(argc, argv, &options, &gateway);
  if (parsed == 1) return 0;
  if (parsed != 0) return 2;
  if (!gateway.log.open(options.log_path)) {
    std::fprintf(stderr, "gateway-sim: cannot open the log %s\n", options.log_path.c_str());
    return 1;
  }
  if (!sim::load_configuration(gateway)) return 1;

  // SIGTERM and SIGINT are taken with sigwait below; the other threads inherit the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  httplib::Server server;
  // Replies go out at once on kept-alive connections, and a port in use is
  // refused instead of shared (the library's default asks for SO_REUSEPORT).
  server.set_tcp_nodelay(true);
  server.set_socket_options([](socket_t fd) {
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  sim::install_routes(server, gateway);
  int udp = bind_both(server, options.port);
  if (udp < 0) {
    std::fprintf(stderr, "gateway-sim: cannot bind 127.0.0.1:%d for both TCP and UDP\n", options.port);
    return 1;
  }
  std::atomic<bool> http_ended = false;
  bool served = false;
  std::thread http([&] {
    served = server.listen_after_bind();
    http_ended = true;
  });
  // Announce the port only once requests are taken, so that a stop right after start works.
  while (!server.is_running() && !http_ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::atomic<bool> stop = false;
  std::thread tftp([&] { sim::serve_tftp(gateway, udp, stop); });
  if (!http_ended) {
    std::printf("gateway-sim listening on 127.0.0.1:%d\n", sim::bound_port(udp));
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
  }
  stop = true;
  gateway.stopping = true;
  server.stop();
  http.join();
  tftp.join();
  close(udp);
  return served ? 0 : 1;
}
