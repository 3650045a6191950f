#include "http_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

namespace sim {

namespace {

// The request's endpoint, and the fault targets that apply to it, most specific first.
struct Route {
  enum Kind { Status, Backup, Restore, Firmware, Unknown } kind = Unknown;
  std::vector<std::string> targets;
};

Route endpoint_of(const httplib::Request& request) {
  if (request.method != "GET") return {Route::Unknown, {"unknown"}};
  if (request.path == "/api/v100/status.ssi") {
    if (!request.has_param("action")) return {Route::Status, {"status"}};
    std::string action = request.get_param_value("action");
    if (action == "restoreconfig") return {Route::Restore, {"restore"}};
    if (action == "firmwareupgrade") return {Route::Firmware, {"firmware"}};
  } else if (request.path == "/api/v100/backup.ssi") {
    std::string config = request.get_param_value("config");
    if (find_configuration(config)) return {Route::Backup, {config, "backup"}};
    return {Route::Backup, {"backup"}};
  }
  return {Route::Unknown, {"unknown"}};
}

Route route_of(const httplib::Request& request) {
  Route route = endpoint_of(request);
  route.targets.push_back("http");
  return route;
}

template <class Map>
const typename Map::mapped_type* find_fault(const Map& faults, const Route& route) {
  for (const auto& target : route.targets) {
    auto found = faults.find(target);
    if (found != faults.end()) return &found->second;
  }
  return nullptr;
}

bool find_target(const std::set<std::string>& targets, const Route& route) {
  for (const auto& target : route.targets)
    if (targets.count(target)) return true;
  return false;
}

// cpp-httplib keeps the sockets to itself; we find this request's socket among
// our descriptors by its two port numbers. -1 when it is gone.
int request_socket(const httplib::Request& request) {
  long limit = sysconf(_SC_OPEN_MAX);
  if (limit < 0 || limit > 65536) limit = 65536;
  for (int fd = 3; fd < limit; ++fd) {
    sockaddr_in peer{}, local{};
    socklen_t peer_length = sizeof peer, local_length = sizeof local;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) != 0 || peer.sin_family != AF_INET) continue;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_length) != 0) continue;
    if (ntohs(peer.sin_port) == request.remote_port && ntohs(local.sin_port) == request.local_port) return fd;
  }
  return -1;
}

// cpp-httplib always answers; to hang up without a reply we shut the socket down under the library.
void hang_up(const httplib::Request& request) {
  int fd = request_socket(request);
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

// Waits until the client gives up (closes its side) or the stand-in stops.
void hold(const Gateway& gateway, const httplib::Request& request) {
  int fd = request_socket(request);
  while (fd >= 0 && !gateway.stopping) {
    pollfd waiting{fd, POLLRDHUP, 0};
    if (poll(&waiting, 1, 100) > 0 && waiting.revents & (POLLRDHUP | POLLHUP | POLLERR)) return;
  }
}

Reply reply_from_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return html_error(500);
  return Reply{200, "application/octet-stream", std::string(std::istreambuf_iterator<char>(in), {})};
}

Reply call_handler(Gateway& gateway, const Route& route, const httplib::Request& request) {
  std::lock_guard<std::mutex> lock(gateway.mutex);
  switch (route.kind) {
    case Route::Status:
      return handle_status(gateway);
    case Route::Backup:
      return handle_backup(gateway, request.get_param_value("config"));
    case Route::Restore:
      return handle_restore(gateway);
    case Route::Firmware:
      return handle_firmware_upgrade(gateway, request.get_param_value("hash"), request.get_param_value("size"));
    case Route::Unknown:
      break;
  }
  return html_error(404);
}

// Deterministic noise of the body's length (at least one byte), never valid JSON or tar.
std::string garbage_of(std::size_t length) {
  std::string noise(length == 0 ? 64 : length, '\0');
  uint32_t state = 0x2545F491u;
  for (auto& c : noise) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state & 0xFF);
  }
  noise[0] = '\x01';
  return noise;
}

// A 302 to `location`, logged like any reply.
void redirect_to(Gateway& gateway, const httplib::Request& request, httplib::Response& response,
                 const std::string& location) {
  response.status = 302;
  response.set_header("Location", location);
  gateway.log.write("http 302 0 %s %s", request.method.c_str(), request.target.c_str());
}

// An endless chunked body: at full speed, or at `bytes_per_second` on
// average, sent a few times a second and catching up after a late wake-up so
// that a busy machine does not slow it down. It ends when the client hangs up
// or the stand-in stops, and is logged then as `kind` with the bytes that went out.
void endless_body(Gateway& gateway, const httplib::Request& request, httplib::Response& response, const char* kind,
                  int bytes_per_second) {
  auto sent = std::make_shared<std::size_t>(0);
  auto block = std::make_shared<std::string>(64u << 10, 'x');
  const auto started = std::chrono::steady_clock::now();
  response.set_chunked_content_provider(
      "application/octet-stream",
      [&gateway, sent, block, bytes_per_second, started](std::size_t, httplib::DataSink& sink) {
        std::size_t count = block->size();
        if (bytes_per_second > 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(250));
          const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
              std::chrono::steady_clock::now() - started);
          const auto due =
              static_cast<std::size_t>(elapsed.count()) * static_cast<std::size_t>(bytes_per_second) / 1000;
          count = std::min(block->size(), due - std::min(due, *sent));
        }
        if (gateway.stopping || (count > 0 && !sink.write(block->data(), count))) return false;
        *sent += count;
        return true;
      },
      [&gateway, sent, kind, method = request.method, target = request.target](bool) {
        gateway.log.write("http %s %zu %s %s", kind, *sent, method.c_str(), target.c_str());
      });
}

void serve(Gateway& gateway, const httplib::Request& request, httplib::Response& response) {
  const Faults& faults = gateway.faults;
  Route route = route_of(request);
  if (find_target(faults.silent, route)) {
    hold(gateway, request);
    hang_up(request);
    gateway.log.write("http silent 0 %s %s", request.method.c_str(), request.target.c_str());
    return;
  }
  if (faults.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(faults.delay_ms));
  if (find_target(faults.close, route)) {
    hang_up(request);
    gateway.log.write("http closed 0 %s %s", request.method.c_str(), request.target.c_str());
    return;
  }
  if (find_target(faults.redirect_loop, route))
    return redirect_to(gateway, request, response, "http://" + request.get_header_value("Host") + request.target);
  if (const std::string* other = find_fault(faults.redirect, route))
    return redirect_to(gateway, request, response, "http://" + *other + request.target);
  if (find_target(faults.flood, route)) return endless_body(gateway, request, response, "flood", 0);
  if (find_target(faults.drip, route)) return endless_body(gateway, request, response, "drip", kDripBytesPerSecond);
  Reply reply;
  if (const int* status = find_fault(faults.http_status, route)) {
    reply = html_error(*status);
  } else if (const std::string* file = find_fault(faults.reply_file, route)) {
    reply = reply_from_file(*file);
  } else {
    reply = call_handler(gateway, route, request);
  }
  std::size_t sent = reply.body.size();
  response.status = reply.status;
  const BodyFault* body_fault = find_fault(faults.body, route);
  if (body_fault && *body_fault == BodyFault::Cut) {
    // Announce the whole length, send half, then hang up.
    auto body = std::make_shared<std::string>(std::move(reply.body));
    sent = body->size() / 2;
    response.set_content_provider(body->size(), reply.content_type,
                                  [body, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                    if (offset < sent) return sink.write(body->data() + offset, sent - offset);
                                    return false;
                                  });
  } else {
    if (body_fault) {
      if (*body_fault == BodyFault::Truncate) reply.body.resize(reply.body.size() / 2);
      if (*body_fault == BodyFault::Garbage) reply.body = garbage_of(reply.body.size());
      if (*body_fault == BodyFault::Empty) reply.body.clear();
      sent = reply.body.size();
    }
    response.set_content(reply.body, reply.content_type);
  }
  gateway.log.write("http %d %zu %s %s", reply.status, sent, request.method.c_str(), request.target.c_str());
}

}  // namespace

void install_routes(httplib::Server& server, Gateway& gateway) {
  auto handler = [&gateway](const httplib::Request& request, httplib::Response& response) {
    serve(gateway, request, response);
  };
  server.Get(".*", handler);
  server.Post(".*", handler);
  server.Put(".*", handler);
  server.Delete(".*", handler);
  // The library calls this for every status of 400 and more; only fill in what it left empty
  // (requests it could not parse), so that every error looks like the gateway's own page.
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty() || response.content_length_ != 0) return;
    Reply page = html_error(response.status);
    response.set_content(page.body, page.content_type);
  });
}

}  // namespace sim
