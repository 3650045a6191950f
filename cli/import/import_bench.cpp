// CPU time of one import: a channel CSV of 64 rows and an input-device CSV of
// 32 rows, the largest files the record layouts can take.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "backup/backup.h"
#include "import/import.h"

namespace {

std::string write_temp(const std::string& content) {
  char name[] = "/tmp/import_bench_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) std::abort();
  close(fd);
  return name;
}

std::string channel_csv() {
  std::string csv = "#dali-channel-csv-version: 1\n# tag,slot,address,name,groups,l1,l2,l3,l4,rate,time,scenes\n";
  for (int i = 0; i < 64; ++i) {
    const std::string n = std::to_string(i);
    csv += "7," + n + "," + n + ",Luminaire number " + n + ",\"[" + std::to_string(i % 16) +
           ",15]\",254,null,254,1,7,4,\"[254,200,150,100,50,null,0,254,200,150,100,50,null,0,1,2]\"\n";
  }
  return csv;
}

std::string input_csv() {
  std::string csv = "#dali-channel-inputs-csv-version: 1\n";
  const std::string types = "\"[1,1,1,1,3,3,4,4,1,1,1,1,3,3,4,4,1,1,1,1,3,3,4,4,1,1,1,1,3,3,4,4]\"";
  const std::string values =
      "\"[0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31]\"";
  for (int i = 0; i < 32; ++i) {
    const std::string n = std::to_string(i);
    csv += "7," + n + "," + n + ",Panel " + n + ",0,32," + types + "," + values;
    for (int column = 9; column <= 20; ++column) csv += "," + values;
    csv += "\n";
  }
  return csv;
}

// Runs `import` on `path` for every iteration.
template <class Import>
void run_import(benchmark::State& state, const std::string& path, Import import) {
  FetchedConfiguration fetched;
  fetched.firmware_version = "1.5.0";
  auto area = std::make_unique<SetupWorkArea>();
  uint32_t applied = 0;
  for (auto _ : state) {
    applied = import(&fetched, path.c_str(), area.get()).applied;
    benchmark::DoNotOptimize(area->channel_image[60]);
  }
  state.counters["rows_applied"] = applied;
}

void BM_ImportChannelCsv64Rows(benchmark::State& state) {
  const std::string path = write_temp(channel_csv());
  run_import(state, path, import_channel_csv);
  std::remove(path.c_str());
}
BENCHMARK(BM_ImportChannelCsv64Rows);

void BM_ImportInputCsv32Rows(benchmark::State& state) {
  const std::string path = write_temp(input_csv());
  run_import(state, path, import_input_csv);
  std::remove(path.c_str());
}
BENCHMARK(BM_ImportInputCsv32Rows);

// A quoted name just below the field limit: the parser's buffer must grow by
// doubling, not by a fixed block, or each growth copies the whole field.
void BM_ImportLongestField(benchmark::State& state) {
  const std::string path = write_temp("#dali-channel-csv-version: 1\n1,5,0,\"" + std::string(MAX_CSV_FIELD - 2, 'n') +
                                      "\",,0,0,0,0,1,0,\n");
  run_import(state, path, import_channel_csv);
  std::remove(path.c_str());
}
BENCHMARK(BM_ImportLongestField);

}  // namespace

BENCHMARK_MAIN();
