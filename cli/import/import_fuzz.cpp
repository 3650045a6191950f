// Feeds arbitrary bytes as a CSV file to the three imports, against every
// channel record version. The first byte chooses the import and version, and
// whether the rest is put behind a valid version header, so that rows are
// reached often.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "backup/backup.h"
#include "import/import.h"

namespace {

std::string csv_path;

bool write_csv(const char* header, const uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(csv_path.c_str(), "wb");
  if (!file) return false;
  if (header) std::fputs(header, file);
  std::fwrite(data, 1, size, file);
  return std::fclose(file) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/import_fuzz_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  close(fd);
  csv_path = name;
  std::atexit([] { std::remove(csv_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  struct Target {
    const char* header;
    ImportOutcome (*import)(const FetchedConfiguration*, const char*, SetupWorkArea*);
    const char* firmware;
  };
  static const Target targets[] = {
      {"#dali-channel-csv-version: 1\n", import_channel_csv, "1.0.0"},
      {"#dali-channel-csv-version: 1\n", import_channel_csv, "1.3.1"},
      {"#dali-channel-csv-version: 1\n", import_channel_csv, "1.5.0"},
      {"#dali-channel-groups-csv-version: 1\n", import_group_csv, "1.0.0"},
      {"#dali-channel-groups-csv-version: 1\n", import_group_csv, "1.3.1"},
      {"#dali-channel-groups-csv-version: 1\n", import_group_csv, "1.5.0"},
      {"#dali-channel-inputs-csv-version: 1\n", import_input_csv, "1.3.1"},
      {"#dali-channel-inputs-csv-version: 1\n", import_input_csv, "1.5.0"},
  };
  const Target& target = targets[(data[0] & 0x7F) % (sizeof targets / sizeof targets[0])];
  const bool with_header = data[0] & 0x80;
  if (!write_csv(with_header ? target.header : nullptr, data + 1, size - 1)) std::abort();
  FetchedConfiguration fetched;
  fetched.firmware_version = target.firmware;
  auto area = std::make_unique<SetupWorkArea>();
  target.import(&fetched, csv_path.c_str(), area.get());
  return 0;
}
