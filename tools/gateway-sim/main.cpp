// gateway-sim: HTTP and TFTP of a LUMARO gateway on one port number of
// 127.0.0.1, or of a whole site of them (--gateways) from one process.
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "gateway.h"
#include "http_server.h"
#include "options.h"
#include "tftp_server.h"

namespace {

// Request threads of each gateway of a site: a site's client asks one
// gateway one thing at a time, and hundreds of gateways must stay small.
constexpr std::size_t SITE_THREADS_PER_GATEWAY = 4;

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

// One played gateway: its state, its servers and their threads.
struct Instance {
  sim::Gateway gateway;
  sim::Options options;
  httplib::Server server;
  int udp = -1;
  std::thread http, tftp;
  std::atomic<bool> http_ended = false, stop = false;
  bool served = false;

  // Reads its options; 0 to run, 1 after --help, 2 on an error.
  int configure(int argc, char** argv, const std::vector<std::string>& own) {
    int parsed = sim::parse_options(argc, argv, &options, &gateway);
    if (parsed != 0 || own.empty()) return parsed;
    std::vector<char*> words = {argv[0]};
    for (const std::string& word : own) words.push_back(const_cast<char*>(word.c_str()));
    return sim::parse_options(static_cast<int>(words.size()), words.data(), &options, &gateway);
  }

  // Opens the log, loads the files and starts serving; false (with a message) when it cannot.
  bool start(bool site) {
    if (!gateway.log.open(options.log_path)) {
      std::fprintf(stderr, "gateway-sim: cannot open the log %s\n", options.log_path.c_str());
      return false;
    }
    if (!sim::load_configuration(gateway)) return false;
    // Replies go out at once on kept-alive connections, and a port in use is
    // refused instead of shared (the library's default asks for SO_REUSEPORT).
    server.set_tcp_nodelay(true);
    server.set_socket_options([](socket_t fd) {
      int yes = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    if (site) server.new_task_queue = [] { return new httplib::ThreadPool(SITE_THREADS_PER_GATEWAY); };
    sim::install_routes(server, gateway);
    udp = bind_both(server, options.port);
    if (udp < 0) {
      std::fprintf(stderr, "gateway-sim: cannot bind 127.0.0.1:%d for both TCP and UDP\n", options.port);
      return false;
    }
    http = std::thread([this] {
      served = server.listen_after_bind();
      http_ended = true;
    });
    // Announce the port only once requests are taken, so that a stop right after start works.
    while (!server.is_running() && !http_ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    tftp = std::thread([this] { sim::serve_tftp(gateway, udp, stop); });
    return !http_ended;
  }

  void finish() {
    stop = true;
    gateway.stopping = true;
    server.stop();
    if (http.joinable()) http.join();
    if (tftp.joinable()) tftp.join();
    if (udp >= 0) close(udp);
  }
};

}  // namespace

int main(int argc, char** argv) {
  sim::Gateway probe;
  sim::Options options;
  int parsed = sim::parse_options(argc, argv, &options, &probe);
  if (parsed == 1) return 0;
  if (parsed != 0) return 2;
  std::vector<std::vector<std::string>> lines = {{}};
  const bool site = !options.gateways_path.empty();
  if (site) {
    lines.clear();
    if (!sim::read_gateway_lines(options.gateways_path, &lines)) return 1;
  }
  std::vector<std::unique_ptr<Instance>> instances;
  for (const std::vector<std::string>& own : lines) {
    instances.push_back(std::make_unique<Instance>());
    if (instances.back()->configure(argc, argv, own) != 0) return 2;
  }

  // SIGTERM and SIGINT are taken with sigwait below; the other threads inherit the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  bool started = true;
  for (auto& instance : instances) {
    started = instance->start(site);
    if (!started) break;
    std::printf("gateway-sim listening on 127.0.0.1:%d\n", sim::bound_port(instance->udp));
  }
  std::fflush(stdout);
  if (started) {
    int received = 0;
    sigwait(&signals, &received);
  }
  bool served = started;
  for (auto& instance : instances) {
    instance->finish();
    served = served && instance->served;
  }
  return served ? 0 : 1;
}
