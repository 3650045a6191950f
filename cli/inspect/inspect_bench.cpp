// Time to show a full backup archive (22 configurations, four channels of 64
// gear, 32 input devices each) and to compare two of them, from reading the
// zip to the finished text and JSON. Goals: show < 50 ms, diff < 100 ms.
#include <benchmark/benchmark.h>

#include "inspect/inspect.h"
#include "testing/inspect_support.h"
#include "zip/zip.h"

namespace {

using namespace inspect_test;

std::string backup_archive(const char* firmware) {
  static int counter = 0;
  const std::string path = "/tmp/inspect_bench_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".zip";
  ZipArchiveHandle zip = zip_archive_open(path.c_str(), 6, 'w');
  for (const auto& [name, tar] : full_backup(firmware)) {
    if (!zip || zip_entry_begin(zip.get(), name.c_str()) != 0 ||
        zip_entry_append(zip.get(), tar.data(), tar.size()) != 0 || zip_entry_finish(zip.get()) != 0)
      std::abort();
  }
  if (zip_archive_close(std::move(zip)) != 0) std::abort();
  return path;
}

void BM_ShowBackup(benchmark::State& state) {
  const std::string path = backup_archive("1.5.0");
  for (auto _ : state) {
    const BackupSet set = read_backup(path);
    if (set.configurations.size() != 22) std::abort();
    benchmark::DoNotOptimize(render_show_text(set));
    benchmark::DoNotOptimize(render_show_json(set));
  }
  unlink(path.c_str());
}
BENCHMARK(BM_ShowBackup)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The older backup's channel records are converted before their fields are compared.
void BM_DiffBackups(benchmark::State& state) {
  const std::string old_path = backup_archive("1.3.0"), new_path = backup_archive("1.5.0");
  for (auto _ : state) {
    const BackupDiff diff = diff_backups(read_backup(old_path), read_backup(new_path));
    if (diff.configurations.size() != 22) std::abort();
    benchmark::DoNotOptimize(render_diff_text(diff));
    benchmark::DoNotOptimize(render_diff_json(diff));
  }
  unlink(old_path.c_str());
  unlink(new_path.c_str());
}
BENCHMARK(BM_DiffBackups)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
