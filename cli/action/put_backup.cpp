#include "action/put_backup.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "action/action.h"
#include "backup/backup.h"
#include "backup/backup_archive.h"
#include "platform/platform.h"
#include "records/records.h"
#include "status/status.h"
#include "tar/tar.h"
#include "util/text.h"
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
  if (tar_find(&reader, path, &header) != TarStatus::Success) {
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
  if (tar_read_data(&reader, out->data(), header.size) != TarStatus::Success) {
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
  if (tar_write_header(&writer, &header) != TarStatus::Success ||
      tar_write_data(&writer, record.data(), header.size) != TarStatus::Success || tar_finalize(&writer) != TarStatus::Success)
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

// Opens the single tar: only a regular file within the entry limit. False
// once the line that says why was printed.
bool open_single_tar(const Restore& r, const char* path, std::FILE** file, uint64_t* size) {
  const platform::FileOpen opened = platform::open_regular_file(path, file);
  if (opened == platform::FileOpen::NotRegular) {
    report_error(r.reporter, "put_backup: '%s' is not a regular file; nothing is uploaded\n", path);
    return false;
  }
  if (opened != platform::FileOpen::Opened) {
    report(r.reporter, "Error %d opening tar file.", tar_code(TarStatus::OpenFailed));
    return false;
  }
  if (!platform::file_size(*file, size)) {
    report_error(r.reporter, "put_backup: '%s' cannot be read\n", path);
    return false;
  }
  if (*size > BACKUP_ENTRY_LIMIT) {
    report_error(r.reporter, "put_backup: '%s' is larger than %llu MiB; nothing is uploaded\n", path,
                 static_cast<unsigned long long>(BACKUP_ENTRY_LIMIT >> 20));
    return false;
  }
  return true;
}

// Why a member has no place in a single tar, or nullptr when it has one.
// `configuration` receives the configuration whose file the member is.
const char* misplaced(const TarHeader& header, bool status_seen, const ConfigurationEntry** configuration) {
  switch (header.type) {
    case '0': case '\0': break;
    case '1': return "is a hard link";
    case '2': return "is a symbolic link";
    case '3': case '4': return "is a device";
    case '5': return "is a folder";
    case '6': return "is a FIFO";
    default: return "is not a regular file";
  }
  if (std::string(header.name) == "status.txt") return status_seen ? "is a second status.txt" : nullptr;
  const ConfigurationEntry* entry = configuration_table;
  while (entry->gateway_path && std::string(entry->gateway_path) != header.name) ++entry;
  if (!entry->gateway_path) return "is not a configuration file of the gateway";
  if (*configuration) return "is a second configuration file";
  *configuration = entry;
  return nullptr;
}

// Checks every member of a single tar: one configuration file and status.txt,
// regular and within the archive. Nullptr after the line that says why.
const ConfigurationEntry* check_single_tar(const Restore& r, const char* path, const std::vector<uint8_t>& tar) {
  std::size_t at = 0;
  const TarSource memory = [&](uint8_t* buffer, std::size_t count) {
    if (count > tar.size() - at) return false;
    std::copy_n(tar.data() + at, count, buffer);
    at += count;
    return true;
  };
  const ConfigurationEntry* configuration = nullptr;
  bool status_seen = false, first = true;
  std::string member, why;
  const TarStatus scanned = tar_scan(memory, tar.size(), [&](const TarHeader& header) {
    first = false;
    member = header.name;
    const char* problem = misplaced(header, status_seen, &configuration);
    status_seen = status_seen || member == "status.txt";
    if (problem) why = problem;
    return TarMemberAction{problem != nullptr, {}};
  });
  if (first && scanned != TarStatus::NullRecord) {
    // Not even its first header reads: a damaged zip says so, anything else is no tar.
    if (tar.size() >= 2 && tar[0] == 'P' && tar[1] == 'K')
      report_error(r.reporter, "put_backup: '%s' is a damaged zip archive; nothing is uploaded\n", path);
    else
      report(r.reporter, "Error %d opening tar file.", tar_code(scanned));
    return nullptr;
  }
  if (!why.empty()) {
    report_error(r.reporter, "put_backup: '%s': member '%s' %s; nothing is uploaded\n", path,
                 escape_bytes(member).c_str(), why.c_str());
    return nullptr;
  }
  if (scanned == TarStatus::Cut) {
    // Its size is a lie: the archive is damaged and goes nowhere.
    report(r.reporter, "%s\terror reading '%s'\r\n", TAG, escape_bytes(member).c_str());
    return nullptr;
  }
  if (scanned != TarStatus::NullRecord) {
    report_error(r.reporter, "put_backup: '%s' is damaged after member '%s'; nothing is uploaded\n", path,
                 escape_bytes(member).c_str());
    return nullptr;
  }
  if (!configuration)
    report_error(r.reporter, "put_backup: '%s' holds no configuration; nothing is uploaded\n", path);
  return configuration;
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
  std::FILE* opened = nullptr;
  uint64_t size = 0;
  const bool usable = open_single_tar(r, path, &opened, &size);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(opened, std::fclose);
  if (!usable) return 1;
  std::vector<uint8_t> tar(static_cast<std::size_t>(size));
  if (std::fread(tar.data(), 1, tar.size(), file.get()) != tar.size()) {
    report_error(r.reporter, "put_backup: '%s' cannot be read\n", path);
    return 1;
  }
  const ConfigurationEntry* entry = check_single_tar(r, path, tar);
  if (!entry) return 1;
  if (!needs_conversion(r, *entry, tar)) {
    // Nothing to change: the archive goes to the gateway byte for byte.
    if (!push(r, tar)) return 1;
    report(r.reporter, "OK\n");
    return 0;
  }
  restore_configuration(r, *entry, tar.data(), tar.size());
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
  if (convert_record_by_code(entry.code, firmware, member.data(), member.size(), &converted, &refusal) != ConvertResult::Ok ||
      converted.empty()) {
    // Said as a refusal, with its reason: nothing was pushed.
    report(reporter, "%s\terror '%s' not restored: %s\r\n", TAG, entry.gateway_path,
           refusal.empty() ? "its record cannot be converted" : refusal.c_str());
    return 1;
  }
  if (!build_upload(entry.gateway_path, converted, upload)) {
    report(reporter, "%s\terror packing '%s'\r\n", TAG, entry.gateway_path);
    return 1;
  }
  return 0;
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
  report(reporter, "model_name=%s\r\n", status.model_name ? escape_bytes(*status.model_name).c_str() : "(null)");
  Restore r{gateway, reporter, ip, std::string("http://") + ip, &status};
  int result = 0;
  // A FIFO or device is refused before anything opens it and waits on it.
  const bool regular = backupfilein && platform::path_kind(backupfilein) == platform::PathKind::Regular;
  if (ZipArchiveHandle zip = regular ? zip_archive_open(backupfilein, 0, 'r') : nullptr) {
    restore_backup_archive(r, zip.get());
    zip_archive_close(std::move(zip));
    result = r.found == 0 || r.failed ? 1 : 0;
  } else {
    result = restore_single_tar(r, backupfilein);
  }
  release_status(&status);
  return result;
}
