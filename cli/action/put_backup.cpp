#include "action/put_backup.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "action/action.h"
#include "backup/backup.h"
#include "backup/manifest.h"
#include "platform/platform.h"
#include "records/records.h"
#include "status/status.h"
#include "tar/tar.h"
#include "util/events.h"
#include "util/text.h"
#include "zip/zip.h"

namespace {

constexpr const char* TAG = "action_put_backup";
constexpr uint32_t UPLOAD_MODE = 0664;

bool is_record(const ConfigurationEntry& entry) { return entry.code >= 1 && entry.code <= 8; }

// Reads the member `path` of a configuration archive. Failures are reported
// when `reporter` is set, and named in `why` when that is.
bool read_member(const Reporter* reporter, const uint8_t* tar, std::size_t length, const char* path,
                 std::vector<uint8_t>* out, std::string* why = nullptr) {
  TarArchive reader;
  tar_memory_reader(&reader, tar, length);
  TarHeader header;
  const auto fail = [&](const char* format, const char* reason) {
    if (reporter) report(*reporter, format, TAG, path);
    if (why) *why = reason;
    return false;
  };
  if (tar_find(&reader, path, &header) != TAR_SUCCESS)
    return fail("%s\terror '%s' file not found.\r\n", "its file is not in the archive");
  if (header.size == 0) return fail("%s\terror '%s' file size error\r\n", "its file is empty");
  // A size beyond the bytes that remain cannot be read; nothing is allocated for it.
  if (!tar_member_within(&reader, header))
    return fail("%s\terror reading '%s'\r\n", "its file runs past the end of the archive");
  out->assign(header.size, 0);
  if (tar_read_data(&reader, out->data(), header.size) != TAR_SUCCESS)
    return fail("%s\terror reading '%s'\r\n", "its file cannot be read");
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
  bool plan_only = false;  // --plan: decide and tell, upload nothing
  std::size_t total = 0;   // configurations in the input, for the steps' "total"
  unsigned found = 0;      // configurations of the table met in the input
  unsigned failed = 0;     // ... of which were not restored (or would be refused)
  JsonWriter plan_json;    // the plan's configurations, for --json
  std::string not_restored;  // "dali1 (why), ..." for the closing line
};

// Uploads an archive and asks for its restore. True when both succeeded.
bool push(const Restore& r, const std::vector<uint8_t>& archive) {
  return push_configuration_archive(r.gateway, r.reporter, r.base_url.c_str(), r.ip, archive.data(), archive.size()) ==
         Transfer::Done;
}

std::string configuration_name(const ConfigurationEntry& entry) {
  const std::string member = entry.member_name;
  return member.substr(0, member.size() - 4);  // without ".tar"
}

void note_not_restored(Restore& r, const std::string& name, const std::string& why) {
  r.not_restored += (r.not_restored.empty() ? "" : ", ") + name + " (" + why + ")";
}

// One configuration of the plan: a line, an event and its place in the JSON document.
void tell_plan(Restore& r, const ConfigurationEntry& entry, const UploadPlan& plan) {
  const std::string name = configuration_name(entry);
  const std::string outcome = plan.outcome;
  if (outcome == "convert")
    report(r.reporter, "plan\t%s\tconvert version %u -> %u\n", name.c_str(), plan.from, plan.to);
  else if (outcome == "unchanged")
    report(r.reporter, "plan\t%s\tupload unchanged\n", name.c_str());
  else
    report(r.reporter, "plan\t%s\trefused: %s\n", name.c_str(), plan.reason.c_str());
  Event event(r.reporter, "plan");
  event.text("configuration", name).text("outcome", outcome);
  JsonWriter& w = r.plan_json;
  json_begin_object(w);
  json_key(w, "name");
  json_string(w, name);
  json_key(w, "outcome");
  json_string(w, outcome);
  for (const char* key : {"from", "to"}) {
    const unsigned version = key[0] == 'f' ? plan.from : plan.to;
    event.raw(key, plan.record ? std::to_string(version) : "null");
    json_key(w, key);
    plan.record ? json_number(w, version) : json_null(w);
  }
  event.raw("reason", plan.reason.empty() ? "null" : json_quote(plan.reason));
  json_key(w, "reason");
  plan.reason.empty() ? json_null(w) : json_string(w, plan.reason);
  json_end_object(w);
}

void restore_configuration(Restore& r, const ConfigurationEntry& entry, const uint8_t* tar, std::size_t length) {
  ++r.found;
  std::vector<uint8_t> upload;
  UploadPlan plan;
  const int prepared = prepare_upload(r.reporter, entry, *r.status, tar, length, &upload, &plan);
  if (prepared != 0) ++r.failed;
  if (r.plan_only) return tell_plan(r, entry, plan);
  Step step{"configuration", configuration_name(entry), r.found, r.total, "refused", plan.reason};
  if (prepared == 0) {
    if (std::string(plan.outcome) == "convert") {
      report(r.reporter, "backup\t%s: record version %u converted to %u.\n", step.name.c_str(), plan.from, plan.to);
      event_conversion(r.reporter, step.name.c_str(), plan.from, plan.to);
    }
    report(r.reporter, "%s\tpush backup file '%s'.\n", "backup", entry.gateway_path);
    if (push(r, upload)) {
      report(r.reporter, "\x1b[32m%s\tbackup push completed.\n\n\x1b[0m", "backup");
      step.outcome = "done";
    } else {
      ++r.failed;
      step.outcome = "failed";
      step.reason = "the upload or the restore request failed";
    }
  }
  if (!step.reason.empty()) note_not_restored(r, step.name, step.reason);
  event_step(r.reporter, step);
}

// The backup's own account of what it misses, named before anything is restored.
void tell_missing(Restore& r, ZipArchive* zip) {
  const int64_t count = zip_archive_entry_count(zip);
  for (int64_t index = 0; index < count; ++index) {
    if (zip_entry_select(zip, index) != 0 || std::string(zip_entry_current_name(zip)) != MANIFEST_NAME) continue;
    std::vector<uint8_t> bytes;
    if (zip_entry_read_all(zip, &bytes, BACKUP_ENTRY_LIMIT) != 0) return;
    const std::optional<BackupManifest> manifest = read_manifest(bytes);
    if (!manifest || manifest->missing.empty()) return;
    const std::string text = incomplete_text(*manifest);
    report_error(r.reporter, "%s\n", text.c_str());
    event_warning(r.reporter, text);
    return;
  }
}

void restore_backup_archive(Restore& r, ZipArchive* zip) {
  const int64_t count = zip_archive_entry_count(zip);
  for (int64_t index = 0; index < count; ++index)
    if (zip_entry_select(zip, index) == 0 && zip_entry_is_directory(zip) == 0 &&
        find_configuration_by_member(zip_entry_current_name(zip)))
      ++r.total;
  tell_missing(r, zip);
  for_each_configuration_entry(zip, [&r](const ConfigurationEntry& entry, EntryRead read,
                                         const std::vector<uint8_t>& bytes) {
    if (read == EntryRead::Read) {
      restore_configuration(r, entry, bytes.data(), bytes.size());
      return;
    }
    ++r.found;
    ++r.failed;
    UploadPlan plan;
    if (read == EntryRead::TooLarge) {
      report_error(r.reporter, "put_backup: entry '%s' is larger than %llu MiB; not restored\n", entry.member_name,
                   static_cast<unsigned long long>(BACKUP_ENTRY_LIMIT >> 20));
      plan.reason = "the entry is larger than 64 MiB";
    } else {
      report_error(r.reporter, "put_backup: entry '%s' cannot be read\n", entry.member_name);
      plan.reason = "the entry cannot be read";
    }
    if (r.plan_only) return tell_plan(r, entry, plan);
    note_not_restored(r, configuration_name(entry), plan.reason);
    event_step(r.reporter, {"configuration", configuration_name(entry), r.found, r.total, "refused", plan.reason});
  });
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
  r.total = present.size();
  // A plan asks each member, which for such an archive says "unchanged" with its versions.
  if (!convert && !r.plan_only) {
    // Nothing to change: the archive goes to the gateway byte for byte.
    const bool pushed = push(r, tar);
    for (std::size_t i = 0; i < present.size(); ++i)
      event_step(r.reporter, {"configuration", configuration_name(*present[i]), i + 1, present.size(),
                              pushed ? "done" : "failed", pushed ? "" : "the upload or the restore request failed"});
    if (!pushed) return 1;
    report(r.reporter, "OK\n");
    return 0;
  }
  for (const ConfigurationEntry* entry : present) restore_configuration(r, *entry, tar.data(), tar.size());
  return r.failed ? 1 : 0;
}

unsigned version_of(const std::vector<uint8_t>& record) {
  return record.size() >= RecordHeader::SIZE ? read_record_header(record.data()).version : 0;
}

int decide_upload(const Reporter& reporter, const ConfigurationEntry& entry, const StatusReport& status,
                  const uint8_t* tar, std::size_t length, std::vector<uint8_t>* upload, UploadPlan* plan) {
  std::vector<uint8_t> member;
  if (!read_member(&reporter, tar, length, entry.gateway_path, &member, &plan->reason)) return 1;
  plan->from = version_of(member);
  if (plan->record && !status.firmware_version) {
    report(reporter, "%s\terror '%s' not restored: the gateway's firmware version is unknown.\r\n", TAG,
                entry.gateway_path);
    plan->reason = "the gateway's firmware version is unknown";
    return 1;
  }
  std::vector<uint8_t> converted;
  const char* firmware = status.firmware_version ? status.firmware_version->c_str() : nullptr;
  std::string refusal;
  if (convert_record_by_code(entry.code, firmware, member.data(), member.size(), &converted, &refusal) != CONVERT_OK ||
      converted.empty()) {
    report(reporter, "%s", refusal.c_str());
    report(reporter, "%s\tpush backup file '%s'.\n", "backup", entry.gateway_path);
    plan->to = entry.code <= 4 ? channel_record_version(firmware) : input_record_version(firmware);
    plan->reason = plan->record && plan->from > plan->to
                       ? "record version " + std::to_string(plan->from) + " cannot go down to version " +
                             std::to_string(plan->to) + " of firmware " + escape_bytes(firmware)
                       : "its record cannot be read as version " + std::to_string(plan->from);
    return 1;
  }
  plan->to = plan->record ? version_of(converted) : 0;
  if (!build_upload(entry.gateway_path, converted, upload)) {
    report(reporter, "%s\terror packing '%s'\r\n", TAG, entry.gateway_path);
    plan->reason = "it could not be packed";
    return 1;
  }
  plan->outcome = converted == member ? "unchanged" : "convert";
  return 0;
}

// The plan's closing line, and with --json its document.
void report_plan(const Restore& r, bool json) {
  report(r.reporter, "plan\t%u configurations, %u would be refused; nothing was written.\n", r.found, r.failed);
  JsonWriter w;
  json_begin_object(w);
  json_key(w, "gateway");
  json_begin_object(w);
  json_key(w, "model_name");
  r.status->model_name ? json_string(w, *r.status->model_name) : json_null(w);
  json_key(w, "firmware_version");
  r.status->firmware_version ? json_string(w, *r.status->firmware_version) : json_null(w);
  json_end_object(w);
  json_key(w, "refused");
  json_number(w, r.failed);
  json_key(w, "configurations");
  json_raw(w, r.plan_json.out);
  json_end_object(w);
  if (json) report_document(r.reporter, w.out + "\n");
}

}  // namespace

int prepare_upload(const Reporter& reporter, const ConfigurationEntry& entry, const StatusReport& status,
                   const uint8_t* tar, std::size_t length, std::vector<uint8_t>* upload, UploadPlan* plan) {
  UploadPlan decided;
  decided.record = is_record(entry);
  const int result = decide_upload(reporter, entry, status, tar, length, upload, &decided);
  if (plan) *plan = decided;
  return result;
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

int put_backup(Gateway& gateway, const Reporter& reporter, const char* ip, const char* backupfilein, bool plan,
               bool json) {
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
  Restore r{gateway, reporter, ip, std::string("http://") + ip, &status, plan, 0, 0, 0, JsonWriter{}, ""};
  json_begin_array(r.plan_json);
  int result = 0;
  if (ZipArchiveHandle zip = backupfilein ? zip_archive_open(backupfilein, 0, 'r') : nullptr) {
    restore_backup_archive(r, zip.get());
    zip_archive_close(std::move(zip));
    result = r.found == 0 || r.failed ? 1 : 0;
  } else {
    result = restore_single_tar(r, backupfilein);
  }
  json_end_array(r.plan_json);
  if (plan) report_plan(r, json);
  // The outcome in one place, however long the trace above it.
  if (!plan && r.found > 0)
    report(reporter, "restore\t%u of %u configurations restored%s%s.\n", r.found - r.failed, r.found,
           r.failed ? "; not restored: " : "", r.not_restored.c_str());
  release_status(&status);
  return result;
}
