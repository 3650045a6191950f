// Upload throughput over loopback, in one run:
//   tftp_upload of 16 MiB to the stand-in against `curl -T` of the same bytes to
//   the same stand-in (goal: within 5 %), and the stand-in against Debian's
//   tftpd-hpa with the same client (curl).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "testing/gateway_process.h"
#include "net/net.h"

namespace {

constexpr std::size_t kImageSize = 16u << 20;

std::vector<uint8_t> image;
std::string image_path;
std::unique_ptr<GatewayProcess> gateway;
std::string tftpd_address;  // empty when tftpd-hpa could not be started

// With the block size tftp_upload asks for, so that both send the same datagrams.
int curl_upload(const std::string& address) {
  return run_process({"curl", "-sS", "--tftp-blksize", std::to_string(TFTP_BLKSIZE_DEFAULT), "-T", image_path,
                      "tftp://" + address + "/flashraw.bin"});
}

bool udp_port_taken(int port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool taken = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
  close(fd);
  return taken;
}

int free_udp_port() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// tftpd-hpa in the foreground on a loopback port, writing into `folder`.
pid_t start_tftpd(const std::string& folder) {
  int port = free_udp_port();
  const passwd* user = getpwuid(getuid());
  pid_t pid = spawn_process({"/usr/sbin/in.tftpd", "--foreground", "--address", "127.0.0.1:" + std::to_string(port),
                             "--create", "--secure", "--user", user ? user->pw_name : "nobody", folder});
  if (pid < 0) return -1;
  for (int i = 0; i < 100 && !udp_port_taken(port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (udp_port_taken(port)) tftpd_address = "127.0.0.1:" + std::to_string(port);
  return pid;
}

void BM_TftpUpload(benchmark::State& state) {
  UploadSource source{image.data(), image.size()};
  for (auto _ : state)
    if (CurlGateway().tftp_upload(gateway->address().c_str(), &source) != Transfer::Done)
      state.SkipWithError("tftp_upload failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageSize));
}

void BM_CurlToStandIn(benchmark::State& state) {
  for (auto _ : state)
    if (curl_upload(gateway->address()) != 0) state.SkipWithError("curl -T failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageSize));
}

void BM_CurlToTftpdHpa(benchmark::State& state) {
  if (tftpd_address.empty()) state.SkipWithError("tftpd-hpa is not available");
  for (auto _ : state)
    if (curl_upload(tftpd_address) != 0) state.SkipWithError("curl -T to tftpd-hpa failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageSize));
}

// Repetitions run in random interleaving (set in main), so that the three
// see the same load on a shared machine; the ratios compare medians.
BENCHMARK(BM_TftpUpload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4)->Repetitions(7);
BENCHMARK(BM_CurlToStandIn)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4)->Repetitions(7);
BENCHMARK(BM_CurlToTftpdHpa)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4)->Repetitions(7);

// Keeps each benchmark's median time so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  std::map<std::string, double> median_ms;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (!run.error_occurred && run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        median_ms[run.run_name.function_name] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  char aggregates[] = "--benchmark_report_aggregates_only=true";
  args.insert(args.begin() + 1, {interleave, aggregates});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  // The transfers print announcements and libcurl's meter; the figures go to the original standard output.
  std::ofstream report("/dev/stdout");
  int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  dup2(null, STDERR_FILENO);

  image.resize(kImageSize);
  uint32_t seed = 1;
  for (auto& byte : image) byte = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  std::string folder = std::filesystem::temp_directory_path() / ("net-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder + "/tftpd");
  image_path = folder + "/image.bin";
  std::ofstream(image_path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), kImageSize);
  gateway = std::make_unique<GatewayProcess>();
  pid_t tftpd = start_tftpd(folder + "/tftpd");

  curl_global_init(CURL_GLOBAL_ALL);
  RatioReporter reporter;  // no colour codes: the figures go to a file stream
  reporter.SetOutputStream(&report);
  reporter.SetErrorStream(&report);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  curl_global_cleanup();

  auto& ms = reporter.median_ms;
  auto ratio = [&](const char* a, const char* b, const char* what) {
    if (ms.count(a) && ms.count(b))
      report << what << ": " << ms[a] / ms[b] << " (" << ms[a] << " ms / " << ms[b] << " ms)\n";
  };
  ratio("BM_TftpUpload", "BM_CurlToStandIn",
        "tftp_upload / curl -T, same stand-in (goal <= 1.05)");
  ratio("BM_CurlToStandIn", "BM_CurlToTftpdHpa",
        "stand-in / tftpd-hpa, same client curl -T (time ratio)");

  if (tftpd > 0) {
    kill(tftpd, SIGTERM);
    waitpid(tftpd, nullptr, 0);
  }
  gateway.reset();
  std::filesystem::remove_all(folder);
  return 0;
}
