#include <cstdio>

#include "backup/backup.h"
#include "backup/listing.h"

int push_configuration_archive(Gateway& gateway, const char* base_url, const char* ip, const uint8_t* bytes,
                               std::size_t length) {
  if (!bytes || length == 0 || !base_url) return 1;
  const UploadSource source{bytes, length};
  if (gateway.tftp_upload(ip, &source) != 0) return 1;
  std::printf("%s\tbackup file pushed.\n", "backup");
  if (gateway.request_restore(ip) != 0) return 1;
  std::printf("%s\tbackup file restore started.\n", "backup");
  return 0;
}

int init_configuration_writer(TarArchive* handle) {
  if (!handle) return 1;
  tar_memory_writer(handle);
  return 0;
}

int finish_configuration_archive(TarArchive* handle) {
  if (!handle) return 1;
  tar_finalize(handle);
  TarArchive reader;
  const std::span<const uint8_t> bytes = tar_written_bytes(handle);
  tar_memory_reader(&reader, bytes.data(), bytes.size());
  std::printf("%s\tbackup file contains: \r\n", "backup");
  const ArchiveListing listing = list_configuration_archive(&reader);
  return listing.status == TAR_NULL_RECORD ? 0 : listing.status;
}
