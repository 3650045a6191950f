#include "backup/backup.h"
#include "backup/listing.h"

Transfer push_configuration_archive(Gateway& gateway, const Reporter& reporter, const char* base_url, const char* ip,
                                    const uint8_t* bytes, std::size_t length) {
  if (!bytes || length == 0 || !base_url) return Transfer::Failed;
  const UploadSource source{bytes, length};
  if (const Transfer uploaded = gateway.tftp_upload(ip, &source); uploaded != Transfer::Done)
    return uploaded;
  report(reporter, "%s\tbackup file pushed.\n", "backup");
  if (const Transfer restored = gateway.request_restore(ip); restored != Transfer::Done) return restored;
  report(reporter, "%s\tbackup file restore started.\n", "backup");
  return Transfer::Done;
}

TarStatus init_configuration_writer(TarArchive* handle) {
  if (!handle) return TarStatus::Failure;
  tar_memory_writer(handle);
  return TarStatus::Success;
}

TarStatus finish_configuration_archive(const Reporter& reporter, TarArchive* handle) {
  if (!handle) return TarStatus::Failure;
  tar_finalize(handle);
  TarArchive reader;
  const std::span<const uint8_t> bytes = tar_written_bytes(handle);
  tar_memory_reader(&reader, bytes.data(), bytes.size());
  report(reporter, "%s\tbackup file contains: \r\n", "backup");
  const ArchiveListing listing = list_configuration_archive(reporter, &reader);
  return listing.status == TarStatus::NullRecord ? TarStatus::Success : listing.status;
}
