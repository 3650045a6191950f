#include "action/put_backup.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "action/action.h"
#include "backup/backup.h"
#include "platform/platform.h"
#include "records/records.h"
#include "status/status.h"
#include "tar/tar.h"
#include "zip/zip.h"

namespace {

constexpr const char* TAG = "action_put_backup";
constexpr uint32_t UPLOAD_MODE = 0664;

bool is_record(const ConfigurationEntry& entry) { return entry.code >= 1 && entry.code <= 8; }

// Reads the member `path` of a configuration archive. Failures are reported when `reporter` is set.
bool read_member(const Reporter* reporter, const uint8_t* tar, std::size_t length, const char* path,
                 std::vector<uint8_t>* out) {
  TarArchive reader;
  tar_memory_reader(&reader, tar, length);
  TarHeader header;
  if (tar_find(&reader, path, &header) != TAR_SUCCESS) {
    if (reporter) report(*reporter, "%s\terror '%s' file not found.\r\n", TAG, path);
    return false;
  }
  if (header.size == 0) {
    if (reporter) report(*reporter, "%s\terror '%s' file size error\r\n", TAG, path);
    return false;
  }
  // A size beyond the bytes that remain cannot be read; nothing is allocated for it.
  if (!tar_member_within(&reader, header)) {
    if (reporter) report(*reporter, "%s\terror reading '%s'\r\n", TAG, path);
    return false;
  }
  out->assign(header.size, 0);
  if (tar_read_data(&reader, out->data(), header.size) != TAR_SUCCESS) {
    if (reporter) report(*reporter, "%s\terror reading '%s'\r\n", TAG, path);
    return false;
  }
  return true;
}

bool build_upload(const char* path, const std::vector<uint8_t>& record, std::vector<uint8_t>* upload) {
  TarHeader header;
  header.mode = UPLOAD_MODE;
  header.size = static_cast<uint32_t>(record.size());
  header.mtime = static_cast<uint32_t>(std::time(nullptr));
  header.type = '0';
  std::snprintf(header.name, sizeof header.name, "%s", path);
  TarArchive writer;
  tar_memory_writer(&writer);
  if (tar_write_header(&writer, &header) != TAR_SUCCESS ||
      tar_write_data(&writer, record.data(), header.size) != TAR_SUCCESS || tar_finalize(&writer) != TAR_SUCCESS)
    return false;
  const std::span<const uint8_t> bytes = tar_written_bytes(&writer);
  upload->assign(bytes.begin(), bytes.end());
  return true;
}

struct Restore {
  Gateway& gateway;
  const Reporter& reporter;
  const char* ip;
  std::string base_url;
  const StatusReport* status;
  unsigned found = 0;   // configurations of the table met in the input
  unsigned failed = 0;  // ... of which were not restored
  bool silent = false;  // the gateway stopped answering: nothing more is sent
  unsigned skipped = 0;  // configurations not tried for that
};

// Uploads an archive and asks for its restore. True when both succeeded.
bool push(Restore& r, const std::vector<uint8_t>& archive) {
  const Transfer pushed =
      push_configuration_archive(r.gateway, r.reporter, r.base_url.c_str(), r.ip, archive.data(), archive.size());
  r.silent = pushed == Transfer::Unreachable;
  return pushed == Transfer::Done;
}

void restore_configuration(Restore& r, const ConfigurationEntry& entry, const uint8_t* tar, std::size_t length) {
  ++r.found;
  std::vector<uint8_t> upload;
  if (prepare_upload(r.reporter, entry, *r.status, tar, length, &upload) != 0) {
    ++r.failed;
    return;
  }
  report(r.reporter, "%s\tpush backup file '%s'.\n", "backup", entry.gateway_path);
  if (!push(r, upload)) {
    ++r.failed;
    return;
  }
  report(r.reporter, "\x1b[32m%s\tbackup push completed.\n\n\x1b[0m", "backup");
}

void restore_backup_archive(Restore& r, ZipArchive* zip) {
  for_each_configuration_entry(zip, [&r](const ConfigurationEntry& entry, EntryRead read,
                                         const std::vector<uint8_t>& bytes) {
    if (r.silent) {  // each of the others would wait for the same silence
      ++r.skipped;
      return;
    }
    if (read == EntryRead::Read) {
      restore_configuration(r, entry, bytes.data(), bytes.size());
      return;
    }
    ++r.found;
    ++r.failed;
    if (read == EntryRead::TooLarge)
      report_error(r.reporter, "put_backup: entry '%s' is larger than %llu MiB; not restored\n", entry.member_name,
                   static_cast<unsigned long long>(BACKUP_ENTRY_LIMIT >> 20));
    else
      report_error(r.reporter, "put_backup: entry '%s' cannot be read\n", entry.member_name);
  });
  if (r.skipped)
    report_error(r.reporter, "put_backup: the gateway %s does not answer; %u more configuration(s) not restored.\n",
                 r.ip, r.skipped);
  if (r.found == 0) report_error(r.reporter, "put_backup: no configuration found in the backup archive\n");
}

bool read_whole_file(const char* path, std::vector<uint8_t>* out) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::open_file(path, "rb"), std::fclose);
  uint64_t size = 0;
  if (!file || !platform::file_size(file.get(), &size) || size == 0) return false;
  out->assign(static_cast<std::size_t>(size), 0);
  return std::fread(out->data(), 1, out->size(), file.get()) == out->size();
}

// The configurations of the table found as members of a tar, in archive order.
// `cut` receives the name of the first member whose size runs past the end.
std::vector<const ConfigurationEntry*> configurations_in(const std::vector<uint8_t>& tar, std::string* cut) {
  std::vector<const ConfigurationEntry*> found;
  TarArchive reader;
  tar_memory_reader(&reader, tar.data(), tar.size());
  TarHeader header;
  while (tar_read_header(&reader, &header) == TAR_SUCCESS) {
    if (!tar_member_within(&reader, header) && cut->empty()) *cut = header.name;
    for (const ConfigurationEntry* entry = configuration_table; entry->gateway_path; ++entry)
      if (std::string(entry->gateway_path) == header.name &&
          std::find(found.begin(), found.end(), entry) == found.end())
        found.push_back(entry);
    if (tar_next(&reader) != TAR_SUCCESS) break;
  }
  return found;
}

// A record that the gateway cannot take as it is: its version is not the
// firmware's, it cannot be read, or the firmware is unknown.
bool needs_conversion(const Restore& r, const ConfigurationEntry& entry, const std::vector<uint8_t>& tar) {
  if (!is_record(entry)) return false;
  std::vector<uint8_t> record;
  if (!r.status->firmware_version || !read_member(nullptr, tar.data(), tar.size(), entry.gateway_path, &record))
    return true;
  return !record_passes_unchanged(entry.code, r.status->firmware_version->c_str(), record.data(), record.size());
}

int restore_single_tar(Restore& r, const char* path) {
  int status = TAR_OPEN_FAILED;
  if (path) {
    TarArchive archive;
    status = tar_open(&archive, path, "r");
    tar_close(&archive);
  }
  if (status != TAR_SUCCESS) {
    report(r.reporter, "Error %d opening tar file.", status);
    return 1;
  }
  std::vector<uint8_t> tar;
  if (!read_whole_file(path, &tar)) {
    report_error(r.reporter, "put_backup: '%s' cannot be read\n", path);
    return 1;
  }
  std::string cut;
  const std::vector<const ConfigurationEntry*> present = configurations_in(tar, &cut);
  if (!cut.empty()) {
    // Its size is a lie: the archive is damaged and goes nowhere.
    report(r.reporter, "%s\terror reading '%s'\r\n", TAG, cut.c_str());
    return 1;
  }
  if (present.empty()) {
    report_error(r.reporter, "put_backup: '%s' holds no configuration; nothing is uploaded\n", path);
    return 1;
  }
  bool convert = false;
  for (const ConfigurationEntry* entry : present) convert = convert || needs_conversion(r, *entry, tar);
  if (!convert) {
    // Nothing to change: the archive goes to the gateway byte for byte.
    if (!push(r, tar)) return 1;
    report(r.reporter, "OK\n");
    return 0;
  }
  for (const ConfigurationEntry* entry : present) restore_configuration(r, *entry, tar.data(), tar.size());
  return r.failed ? 1 : 0;
}

}  // namespace

int prepare_upload(const Reporter& reporter, const ConfigurationEntry& entry, const StatusReport& status,
                   const uint8_t* tar, std::size_t length, std::vector<uint8_t>* upload) {
  std::vector<uint8_t> member;
  if (!read_member(&reporter, tar, length, entry.gateway_path, &member)) return 1;
  if (is_record(entry) && !status.firmware_version) {
    report(reporter, "%s\terror '%s' not restored: the gateway's firmware version is unknown.\r\n", TAG,
                entry.gateway_path);
    return 1;
  }
  std::vector<uint8_t> converted;
  const char* firmware = status.firmware_version ? status.firmware_version->c_str() : nullptr;
  std::string refusal;
  if (convert_record_by_code(entry.code, firmware, member.data(), member.size(), &converted, &refusal) != CONVERT_OK ||
      converted.empty()) {
    report(reporter, "%s", refusal.c_str());
    report(reporter, "%s\tpush backup file '%s'.\n", "backup", entry.gateway_path);
    return 1;
  }
  if (!build_upload(entry.gateway_path, converted, upload)) {
    report(reporter, "%s\terror packing '%s'\r\n", TAG, entry.gateway_path);
    return 1;
  }
  return 0;
}

void for_each_configuration_entry(
    ZipArchive* zip,
    const std::function<void(const ConfigurationEntry&, EntryRead, const std::vector<uint8_t>& bytes)>& visit) {
  const int64_t count = zip_archive_entry_count(zip);
  for (int64_t index = 0; index < count; ++index) {
    if (zip_entry_select(zip, index) != 0 || zip_entry_is_directory(zip) != 0) continue;
    const ConfigurationEntry* entry = find_configuration_by_member(zip_entry_current_name(zip));
    if (!entry) continue;
    std::vector<uint8_t> bytes;
    const int read = zip_entry_read_all(zip, &bytes, BACKUP_ENTRY_LIMIT);
    if (read != 0) bytes.clear();
    visit(*entry, read == -2 ? EntryRead::TooLarge : bytes.empty() ? EntryRead::Unreadable : EntryRead::Read, bytes);
  }
}

int put_backup(Gateway& gateway, const Reporter& reporter, const char* ip, const char* backupfilein) {
  if (!ip) {
    report(reporter, "Missing arguments for action put_backup.");
    return 2;
  }
  StatusReport status;
  const StatusOutcome queried = query_status(gateway, ip, &status);
  if (!queried.read) {
    if (!queried.reason.empty()) report_error(reporter, "%s", queried.reason.c_str());
    return 1;
  }
  report(reporter, "model_name=%s\r\n", status.model_name ? status.model_name->c_str() : "(null)");
  Restore r{gateway, reporter, ip, std::string("http://") + ip, &status};
  int result = 0;
  if (ZipArchiveHandle zip = backupfilein ? zip_archive_open(backupfilein, 0, 'r') : nullptr) {
    restore_backup_archive(r, zip.get());
    zip_archive_close(std::move(zip));
    result = r.found == 0 || r.failed ? 1 : 0;
  } else {
    result = restore_single_tar(r, backupfilein);
  }
  release_status(&status);
  return result;
}
