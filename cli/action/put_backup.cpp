#include "action/put_backup.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "action/action.h"
#include "backup/backup.h"
#include "backup/backup_archive.h"
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
  if (tar_find(&reader, path, &header) != TarStatus::Success)
    return fail("%s\terror '%s' file not found.\r\n", "its file is not in the archive");
  if (header.size == 0) return fail("%s\terror '%s' file size error\r\n", "its file is empty");
  // A size beyond the bytes that remain cannot be read; nothing is allocated for it.
  if (!tar_member_within(&reader, header))
    return fail("%s\terror reading '%s'\r\n", "its file runs past the end of the archive");
  out->assign(header.size, 0);
  if (tar_read_data(&reader, out->data(), header.size) != TarStatus::Success)
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
  bool plan_only = false;  // --plan: decide and tell, upload nothing
  std::size_t total = 0;   // configurations in the input, for the steps' "total"
  unsigned found = 0;      // configurations of the table met in the input
  unsigned failed = 0;     // ... of which were not restored (or would be refused)
  bool silent = false;     // the gateway stopped answering: nothing more is sent
  unsigned skipped = 0;    // configurations not tried for that
  JsonWriter plan_json;    // the plan's configurations, for --json
  std::string not_restored;  // "dali1 (why), ..." for the closing line
};

// Uploads an archive and asks for its restore. True when both succeeded.
bool push(Restore& r, const std::vector<uint8_t>& archive) {
  const Transfer pushed =
      push_configuration_archive(r.gateway, r.reporter, r.base_url.c_str(), r.ip, archive.data(), archive.size());
  r.silent = pushed == Transfer::Unreachable;
  return pushed == Transfer::Done;
}

std::string configuration_name(const ConfigurationEntry& entry) {
  const std::string member = entry.member_name;
  return member.substr(0, member.size() - 4);  // without ".tar"
}

// Why a push that did not succeed failed.
std::string failure_reason(const Restore& r) {
  return r.silent ? "the gateway does not answer" : "the upload or the restore request failed";
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
      step.reason = failure_reason(r);
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
    if (zip_entry_read_all(zip, &bytes, BACKUP_ENTRY_LIMIT) != ZipRead::Read) return;
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
    if (r.silent) {  // each of the others would wait for the same silence
      ++r.skipped;
      const std::string name = configuration_name(entry);
      note_not_restored(r, name, "not tried: the gateway does not answer");
      event_step(r.reporter, {"configuration", name, r.found + r.skipped, r.total, "skipped",
                              "not tried: the gateway does not answer"});
      return;
    }
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
  r.total = 1;
  // A plan asks the member, which for such an archive says "unchanged" with its versions.
  if (!needs_conversion(r, *entry, tar) && !r.plan_only) {
    // Nothing to change: the archive goes to the gateway byte for byte.
    const bool pushed = push(r, tar);
    event_step(r.reporter, {"configuration", configuration_name(*entry), 1, 1, pushed ? "done" : "failed",
                            pushed ? "" : failure_reason(r)});
    if (!pushed) return 1;
    report(r.reporter, "OK\n");
    return 0;
  }
  restore_configuration(r, *entry, tar.data(), tar.size());
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
  if (convert_record_by_code(entry.code, firmware, member.data(), member.size(), &converted, &refusal) != ConvertResult::Ok ||
      converted.empty()) {
    // Said as a refusal, with its reason: nothing was pushed.
    report(reporter, "%s\terror '%s' not restored: %s\r\n", TAG, entry.gateway_path,
           refusal.empty() ? "its record cannot be converted" : refusal.c_str());
    plan->to = entry.code <= 4 ? channel_record_version(firmware) : input_record_version(firmware);
    const bool downgrade = plan->record && plan->from > plan->to &&
                           record_layout_problem(entry.code, member.data(), member.size()).empty();
    plan->reason = downgrade ? "record version " + std::to_string(plan->from) + " cannot go down to version " +
                                   std::to_string(plan->to) + " of firmware " + escape_bytes(firmware)
                   : refusal.empty() ? "its record cannot be converted"
                                     : refusal;
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
void report_plan(const Restore& r, bool json, const char* identity) {
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
  if (identity) {
    json_key(w, "identity");
    json_string(w, identity);
  }
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

int put_backup(Gateway& gateway, const Reporter& reporter, const char* ip, const char* backupfilein, bool plan,
               bool json, const char* identity) {
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
  Restore r{gateway, reporter, ip, std::string("http://") + ip, &status, plan, 0, 0, 0, false, 0, JsonWriter{}, ""};
  json_begin_array(r.plan_json);
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
  json_end_array(r.plan_json);
  if (plan) report_plan(r, json, identity);
  // The outcome in one place, however long the trace above it.
  if (!plan && r.found > 0)
    report(reporter, "restore\t%u of %u configurations restored%s%s.\n", r.found - r.failed, r.found + r.skipped,
           r.not_restored.empty() ? "" : "; not restored: ", r.not_restored.c_str());
  release_status(&status);
  return result;
}
