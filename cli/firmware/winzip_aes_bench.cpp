// Decrypting a 16 MiB stored AES-256 image entry: our reader, streaming the
// raw entry from libzip, against libzip's own decryption (one AES call per 16-byte block), on the same package.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "testing/firmware_maker.h"
#include "firmware/winzip_aes.h"

namespace {

struct Package {
  std::vector<uint8_t> zip;
  std::size_t image_size = 0;
};

const Package& package() {
  static const Package made = [] {
    ImageDescription description;
    description.size = FIRMWARE_MAX_SIZE;  // 16 MiB less 2 bytes
    const std::vector<uint8_t> image = make_firmware_image(description);
    Package result;
    result.image_size = image.size();
    std::string error;
    if (make_firmware_package(image, {}, &result.zip, &error) != 0) std::abort();
    return result;
  }();
  return made;
}

// The package opened from memory; its image entry is the second one.
zip_t* open_package() {
  zip_error_t error;
  zip_error_init(&error);
  const Package& p = package();
  zip_t* archive =
      zip_open_from_source(zip_source_buffer_create(p.zip.data(), p.zip.size(), 0, &error), ZIP_RDONLY, &error);
  if (!archive) std::abort();
  return archive;
}

void BM_OurReader(benchmark::State& state) {
  zip_t* archive = open_package();
  AesEntryInfo info;
  uint64_t raw_size = 0;
  if (zip_aes_entry_info(archive, 1, &info, &raw_size) != EntryLookup::WinZipAes) std::abort();
  std::vector<uint8_t> plain;
  for (auto _ : state) {
    if (read_zip_aes_entry(archive, 1, info, raw_size, FIRMWARE_PACKAGE_PASSWORD, FIRMWARE_MAX_SIZE, &plain) !=
        AesEntryError::None)
      std::abort();
    benchmark::DoNotOptimize(plain.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * package().image_size));
  zip_discard(archive);
}

void BM_Libzip(benchmark::State& state) {
  zip_t* archive = open_package();
  std::vector<uint8_t> plain(package().image_size);
  for (auto _ : state) {
    zip_file_t* entry = zip_fopen_index_encrypted(archive, 1, 0, FIRMWARE_PACKAGE_PASSWORD);
    std::size_t done = 0;
    zip_int64_t count;
    while ((count = zip_fread(entry, plain.data() + done, std::min<std::size_t>(4096, plain.size() - done))) > 0)
      done += static_cast<std::size_t>(count);
    zip_fclose(entry);
    if (done != plain.size()) std::abort();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * package().image_size));
  zip_discard(archive);
}

BENCHMARK(BM_OurReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libzip)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
