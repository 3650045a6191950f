#include "site/gateway_run.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "action/gateway_pin.h"
#include "backup/backup.h"
#include "net/net.h"
#include "platform/platform.h"
#include "status/status.h"
#include "util/text.h"

namespace {

using Clock = std::chrono::steady_clock;
using FileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The transfers of one gateway under one deadline: every request gets at most
// the time that is left, and none starts once it is spent.
class DeadlineGateway : public Gateway {
 public:
  DeadlineGateway(Clock::time_point deadline, const Reporter& reporter) : deadline_(deadline), reporter_(reporter) {}

  Transfer fetch_to_buffer(const char* tag, const char* url, ReceiveBuffer* buffer) override {
    std::optional<CurlGateway> gateway = for_next_request();
    return gateway ? gateway->fetch_to_buffer(tag, url, buffer) : Transfer::Failed;
  }
  Transfer tftp_upload(const char* address, const UploadSource* source) override {
    std::optional<CurlGateway> gateway = for_next_request();
    return gateway ? gateway->tftp_upload(address, source) : Transfer::Failed;
  }
  Transfer request_restore(const char* address) override {
    std::optional<CurlGateway> gateway = for_next_request();
    return gateway ? gateway->request_restore(address) : Transfer::Failed;
  }
  Transfer request_firmware_upgrade(const char* address, const uint8_t* digest, std::size_t size) override {
    std::optional<CurlGateway> gateway = for_next_request();
    return gateway ? gateway->request_firmware_upgrade(address, digest, size) : Transfer::Failed;
  }
  bool expired() const { return Clock::now() >= deadline_; }

 private:
  std::optional<CurlGateway> for_next_request() {
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline_ - Clock::now()).count();
    if (left <= 0) {
      report_error(reporter_, "time limit for this gateway reached\n");
      return std::nullopt;
    }
    HttpLimits limits;
    limits.connect_seconds = std::min<long>(limits.connect_seconds, left);
    limits.low_speed_seconds = std::min<long>(limits.low_speed_seconds, left);
    limits.total_seconds = std::min<long>(limits.total_seconds, left);
    return CurlGateway(TransferSettings{false, reporter_, limits, TFTP_BLKSIZE_DEFAULT});
  }

  Clock::time_point deadline_;
  Reporter reporter_;
};

// Where one gateway's lower-layer messages go: progress nowhere, complaints
// into a scratch file whose last line becomes the gateway's one-line reason.
struct Capture {
  FileHandle out{platform::open_null_output(), std::fclose};
  FileHandle err{std::tmpfile(), std::fclose};
  Reporter reporter() const { return Reporter{out ? out.get() : stderr, err ? err.get() : stderr}; }

  std::string last_line() const {
    if (!err) return "";
    std::fflush(err.get());
    std::rewind(err.get());
    std::string text, line;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, err.get())) text += chunk;
    std::size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos) return "";
    text.resize(end + 1);
    std::size_t start = text.find_last_of("\r\n");
    return start == std::string::npos ? text : text.substr(start + 1);
  }
};

ReportedIdentity identity_of(const StatusReport& status) {
  auto text = [](const std::optional<std::string>& field) { return field ? *field : std::string(); };
  return {text(status.model_name), text(status.firmware_version), text(status.serial_number), text(status.mac)};
}

Probe probe_with(Gateway& gateway, const Capture& capture, const SiteGateway& site_gateway) {
  Probe probe;
  StatusReport status;
  const StatusOutcome outcome = query_status(gateway, site_gateway.address.c_str(), &status);
  if (!outcome.read) {
    probe.problem = outcome.reason.empty() ? capture.last_line() : outcome.reason;
    while (!probe.problem.empty() && (probe.problem.back() == '\n' || probe.problem.back() == '\r'))
      probe.problem.pop_back();
    if (probe.problem.empty()) probe.problem = "no status report";
    return probe;
  }
  probe.reach = Reachability::Answered;
  probe.identity = identity_of(status);
  probe.mismatch = pin_mismatch(site_gateway, probe.identity);
  release_status(&status);
  return probe;
}

}  // namespace

std::string pin_mismatch(const SiteGateway& pinned, const ReportedIdentity& reported) {
  const std::optional<PinDifference> differs =
      pin_difference({pinned.model, pinned.serial, pinned.mac}, reported.model, reported.serial, reported.mac);
  if (!differs) return "";
  return "reports " + std::string(differs->field) + " '" + escape_bytes(differs->reported) + "' where '" +
         differs->pinned + "' is pinned";
}

Probe probe_gateway(const SiteGateway& site_gateway, const RunLimits& limits) {
  Capture capture;
  DeadlineGateway gateway(Clock::now() + limits.per_gateway, capture.reporter());
  return probe_with(gateway, capture, site_gateway);
}

GatewayFetch fetch_gateway(const SiteGateway& site_gateway, const RunLimits& limits) {
  Capture capture;
  const Reporter reporter = capture.reporter();
  DeadlineGateway gateway(Clock::now() + limits.per_gateway, reporter);
  GatewayFetch result;
  result.probe = probe_with(gateway, capture, site_gateway);
  if (result.probe.reach != Reachability::Answered) {
    result.problem = result.probe.problem;
    return result;
  }
  if (!result.probe.mismatch.empty()) {
    result.problem = result.probe.mismatch;
    return result;
  }
  const std::string base_url = "http://" + site_gateway.address;
  std::vector<std::string> missing;
  for (const char* name : default_fetch_order) {
    FetchedConfiguration record;
    const Transfer fetched = fetch_configuration(gateway, reporter, base_url.c_str(), name, &record);
    if (fetched == Transfer::Done) {
      result.archives.push_back({name, std::move(record.buffer.data)});
      release_fetched_configuration(&record);
      continue;
    }
    // The others are still worth having; a gateway that did not answer or is out of time is not worth asking again.
    if (gateway.expired() || fetched == Transfer::Unreachable) {
      result.problem = (gateway.expired() ? "time limit reached while fetching " : "no answer while fetching ") +
                       std::string(name);
      break;
    }
    const std::string why = capture.last_line();
    missing.push_back(std::string(name) + (why.empty() ? "" : " (" + why + ")"));
  }
  for (const std::string& name : missing)
    result.problem += (result.problem.empty() ? "not fetched: " : ", ") + name;
  return result;
}

void run_parallel(std::size_t count, unsigned jobs, const std::function<void(std::size_t)>& work) {
  std::atomic<std::size_t> next = 0;
  const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(std::max(1u, jobs), count));
  std::vector<std::thread> workers;
  workers.reserve(threads);
  {
    // Started while interrupts wait, the workers never take one: an interrupt
    // reaches this thread, which then ends the run as in any other step.
    const platform::InterruptsDeferred deferred;
    for (unsigned t = 0; t < threads; ++t)
      workers.emplace_back([&] {
        for (std::size_t i = next++; i < count; i = next++) work(i);
      });
  }
  for (std::thread& worker : workers) worker.join();
}
