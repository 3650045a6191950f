// A full 22-configuration backup from the stand-in (2 ms reply delay), in one run:
//   get_backup to a zip archive, in-process (its CPU time is the tool's own),
//   against the same 22 URLs fetched one after the other by curl, both in one
//   curl process and as one curl process per URL. Like the tool, curl opens a
//   connection per fetch ("Connection: close"); reused connections to the
//   stand-in wait on delayed acknowledgements and would measure those instead.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "action/action.h"
#include "backup/backup.h"
#include "testing/gateway_process.h"


namespace {

namespace fs = std::filesystem;

std::unique_ptr<GatewayProcess> gateway;
std::string folder;

std::string url_of(const char* name) {
  return "http://" + gateway->address() + "/api/v100/backup.ssi?config=" + name;
}

void BM_GetBackupZip(benchmark::State& state) {
  for (auto _ : state) {
    if (CurlGateway curl; get_backup(curl, Reporter{}, gateway->address().c_str(), folder.c_str(), "zip", nullptr) != 0)
      state.SkipWithError("get_backup failed");
    state.PauseTiming();
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
    state.ResumeTiming();
  }
}

void BM_CurlOneProcess(benchmark::State& state) {
  std::vector<std::string> args = {"curl", "-sSf", "-H", "Connection: close"};
  for (const char* name : default_fetch_order) {
    args.push_back(url_of(name));
    args.push_back("-o");
    args.push_back("/dev/null");
  }
  for (auto _ : state)
    if (run_process(args) != 0) state.SkipWithError("curl failed");
}

void BM_CurlPerUrl(benchmark::State& state) {
  for (auto _ : state)
    for (const char* name : default_fetch_order)
      if (run_process({"curl", "-sSf", "-o", "/dev/null", url_of(name)}) != 0) state.SkipWithError("curl failed");
}

BENCHMARK(BM_GetBackupZip)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_CurlOneProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(30);
BENCHMARK(BM_CurlPerUrl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// Keeps each benchmark's mean real and CPU time for the ratios after the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> real_ms, cpu_ms;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.error_occurred) continue;
      const std::string name = run.benchmark_name().substr(0, run.benchmark_name().find('/'));
      real_ms[name] = run.GetAdjustedRealTime();
      cpu_ms[name] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // get_backup prints its progress; the figures go to the original standard output.
  std::ofstream report("/dev/stdout");
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  dup2(null, STDERR_FILENO);

  folder = fs::temp_directory_path() / ("get-backup-bench-" + std::to_string(getpid()));
  fs::create_directories(folder);
  gateway = std::make_unique<GatewayProcess>(std::vector<std::string>{"--delay", "2"});

  curl_global_init(CURL_GLOBAL_ALL);
  RatioReporter reporter;
  reporter.SetOutputStream(&report);
  reporter.SetErrorStream(&report);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  curl_global_cleanup();

  auto& real = reporter.real_ms;
  auto ratio = [&](const char* baseline, const char* what) {
    if (real.count("BM_GetBackupZip") && real.count(baseline))
      report << what << ": " << real["BM_GetBackupZip"] / real[baseline] << " (" << real["BM_GetBackupZip"]
             << " ms / " << real[baseline] << " ms)\n";
  };
  ratio("BM_CurlOneProcess", "get_backup / 22 fetches in one curl process (wall time)");
  ratio("BM_CurlPerUrl", "get_backup / 22 curl processes (wall time)");
  if (reporter.cpu_ms.count("BM_GetBackupZip"))
    report << "get_backup CPU time per full backup: " << reporter.cpu_ms["BM_GetBackupZip"] << " ms\n";

  gateway.reset();
  fs::remove_all(folder);
  return 0;
}
