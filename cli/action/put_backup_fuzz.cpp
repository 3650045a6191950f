// The reading side of put_backup on arbitrary input: a backup archive is
// opened, every configuration entry read as a tar and prepared for upload,
// without any transfer. Random bytes seldom make a zip, let alone a tar inside
// one, so the input chooses between raw bytes as the archive file and a
// backup archive assembled from it:
//   byte 0 even: the rest is the file.
//   byte 0 odd:  entries of [name byte][flags byte][length, 2 bytes LE][bytes].
//     name byte: a configuration's member name (index mod 24; 22 and 23 give
//     stray names); flags bit 0: wrap the bytes as the configuration's file in
//     a tar, otherwise they are the entry as is.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "action/put_backup.h"
#include "backup/backup_archive.h"
#include "backup/backup.h"
#include "status/status.h"
#include "tar/tar.h"
#include "util/reporter.h"
#include "zip/zip.h"

namespace {

std::string scratch_path() {
  return (std::filesystem::temp_directory_path() / ("put_backup_fuzz_" + std::to_string(getpid()) + ".zip")).string();
}

std::vector<uint8_t> tar_of(const char* name, const uint8_t* data, std::size_t size) {
  TarArchive writer;
  tar_memory_writer(&writer);
  tar_write_file_header(&writer, name, static_cast<uint32_t>(size));
  if (size) tar_write_data(&writer, data, static_cast<uint32_t>(size));
  tar_finalize(&writer);
  writer.memory.resize(writer.position);
  return writer.memory;
}

bool assemble(const std::string& path, const uint8_t* data, std::size_t size) {
  ZipArchiveHandle zip = zip_archive_open(path.c_str(), 1, 'w');
  if (!zip) return false;
  std::size_t at = 0;
  while (at + 4 <= size) {
    const unsigned index = data[at] % 24;
    const bool wrap = data[at + 1] & 1;
    std::size_t length = data[at + 2] | data[at + 3] << 8;
    at += 4;
    if (length > size - at) length = size - at;
    const char* name = index < CONFIGURATION_COUNT ? configuration_table[index].member_name
                       : index == 22                ? "DALI1.tar"
                                                    : "notes.txt";
    const std::vector<uint8_t> bytes = wrap && index < CONFIGURATION_COUNT
                                           ? tar_of(configuration_table[index].gateway_path, data + at, length)
                                           : std::vector<uint8_t>(data + at, data + at + length);
    at += length;
    if (zip_entry_begin(zip.get(), name) != 0 ||
        (!bytes.empty() && zip_entry_append(zip.get(), bytes.data(), bytes.size()) != 0) ||
        zip_entry_finish(zip.get()) != 0)
      return false;
  }
  return zip_archive_close(std::move(zip)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::string path = scratch_path();
  if (size < 1) return 0;
  if (data[0] & 1) {
    if (!assemble(path, data + 1, size - 1)) return 0;
  } else {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  StatusReport status;
  status.model_name = "LUMARO-4";
  // Bit 1 of the first byte picks the firmware, so both record tables are reached.
  status.firmware_version = data[0] & 2 ? "1.3.1" : "2.2.4";
  if (ZipArchiveHandle zip = zip_archive_open(path.c_str(), 0, 'r')) {
    for_each_configuration_entry(zip.get(), [&](const ConfigurationEntry& entry, EntryRead read,
                                                const std::vector<uint8_t>& bytes) {
      if (read != EntryRead::Read) return;
      std::vector<uint8_t> upload;
      if (prepare_upload(Reporter{}, entry, status, bytes.data(), bytes.size(), &upload) == 0 && upload.size() < 2048)
        std::abort();  // header, at least one padded data block, end marker
    });
    zip_archive_close(std::move(zip));
  }
  std::filesystem::remove(path);
  return 0;
}
