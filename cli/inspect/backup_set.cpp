// Reading a backup from disk or memory into a BackupSet.
#include <cstdio>
#include <cstring>
#include <memory>

#include "backup/backup.h"
#include "inspect/inspect.h"
#include "platform/platform.h"
#include "records/records.h"
#include "status/status.h"
#include "tar/tar.h"
#include "zip/zip.h"

namespace {

constexpr const char* TAR_SUFFIX = ".tar";

bool member_bytes(std::span<const uint8_t> tar, const char* member, std::vector<uint8_t>* out, std::string* problem) {
  TarArchive reader;
  tar_memory_reader(&reader, tar.data(), tar.size());
  TarHeader header;
  const int found = tar_find(&reader, member, &header);
  if (found != TAR_SUCCESS) {
    *problem = std::string("'") + member + "' " + (found == TAR_NOT_FOUND ? "not found" : tar_strerror(found));
    return false;
  }
  out->assign(header.size, 0);
  const int read = header.size ? tar_read_data(&reader, out->data(), header.size) : TAR_SUCCESS;
  if (read != TAR_SUCCESS) {
    *problem = std::string("'") + member + "' " + tar_strerror(read);
    out->clear();
    return false;
  }
  return true;
}

// The configuration whose file is a member of the archive (the first one found).
const ConfigurationEntry* recognise(std::span<const uint8_t> tar) {
  TarArchive reader;
  tar_memory_reader(&reader, tar.data(), tar.size());
  TarHeader header;
  while (tar_read_header(&reader, &header) == TAR_SUCCESS) {
    for (const ConfigurationEntry* entry = configuration_table; entry->gateway_path; ++entry)
      if (std::strcmp(entry->gateway_path, header.name) == 0) return entry;
    if (tar_next(&reader) != TAR_SUCCESS) break;
  }
  return nullptr;
}

GatewayInfo read_status_txt(std::span<const uint8_t> tar) {
  GatewayInfo info;
  std::vector<uint8_t> text;
  std::string ignored;
  if (!member_bytes(tar, "status.txt", &text, &ignored) || text.empty()) return info;
  StatusReport report;
  const StatusOutcome outcome = read_status_report(text.data(), text.size(), &report);
  if (!outcome.read) {
    // The reason is a console line ("status\t...\n"); the view wants its text alone.
    std::string reason = outcome.reason;
    if (const std::size_t tab = reason.find('\t'); tab != std::string::npos) reason.erase(0, tab + 1);
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    info.problem = "status.txt cannot be read: " + reason;
  }
  info.model_name = report.model_name;
  info.firmware_version = report.firmware_version;
  info.serial_number = report.serial_number;
  info.mac = report.mac;
  return info;
}

bool has_any(const GatewayInfo& info) {
  return info.model_name || info.firmware_version || info.serial_number || info.mac;
}

bool read_whole_file(const std::string& path, std::vector<uint8_t>* out) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::open_file(path.c_str(), "rb"), std::fclose);
  uint64_t size = 0;
  if (!file || !platform::file_size(file.get(), &size)) return false;
  out->assign(static_cast<std::size_t>(size), 0);
  return std::fread(out->data(), 1, out->size(), file.get()) == out->size();
}

std::string file_name_of(const std::string& path) {
  const std::size_t cut = path.find_last_of(std::string("/") + platform::path_separator());
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

void read_folder(BackupSet& set) {
  set.kind = "folder";
  for (const char* name : default_fetch_order) {
    const std::string file = std::string(name) + TAR_SUFFIX;
    std::vector<uint8_t> bytes;
    if (read_whole_file(set.source + platform::path_separator() + file, &bytes))
      set.configurations.push_back(read_configuration_archive(file, bytes));
  }
  if (set.configurations.empty()) set.problem = "no configuration archive (.tar) of the gateway in the folder";
  if (std::vector<uint8_t> bytes; read_whole_file(set.source + platform::path_separator() + MANIFEST_NAME, &bytes))
    set.manifest = read_manifest(bytes);
}

void read_zip(BackupSet& set) {
  set.kind = "archive";
  ZipArchiveHandle zip = zip_archive_open(set.source.c_str(), -1, 'r');
  if (!zip) {
    set.problem = "not a readable zip archive";
    return;
  }
  const int64_t count = zip_archive_entry_count(zip.get());
  for (int64_t i = 0; i < count; ++i) {
    if (zip_entry_select(zip.get(), i) != 0 || zip_entry_is_directory(zip.get()) != 0) continue;
    const std::string name = zip_entry_current_name(zip.get());
    std::vector<uint8_t> bytes;
    const bool read = zip_entry_read_all(zip.get(), &bytes, BACKUP_ENTRY_LIMIT) == 0;
    if (read && name == MANIFEST_NAME) {
      set.manifest = read_manifest(bytes);
      continue;
    }
    if (!read) {
      BackupConfiguration unreadable;
      unreadable.name = name;
      unreadable.problem = "entry cannot be read";
      set.configurations.push_back(std::move(unreadable));
      continue;
    }
    set.configurations.push_back(read_configuration_archive(name, bytes));
  }
  zip_archive_close(std::move(zip));
}

}  // namespace

BackupConfiguration read_configuration_archive(const std::string& name, std::span<const uint8_t> tar) {
  BackupConfiguration configuration;
  configuration.archive_size = tar.size();
  configuration.entry = find_configuration_by_member(name.c_str());
  if (!configuration.entry) configuration.entry = recognise(tar);
  if (!configuration.entry) {
    configuration.name = name;
    configuration.problem = "holds no configuration file of the gateway";
  } else {
    const std::string member = configuration.entry->member_name;
    configuration.name = member.substr(0, member.size() - std::strlen(TAR_SUFFIX));
    member_bytes(tar, configuration.entry->gateway_path, &configuration.data, &configuration.problem);
  }
  configuration.status = read_status_txt(tar);
  return configuration;
}

void fill_gateway(BackupSet& set) {
  for (const BackupConfiguration& configuration : set.configurations) {
    if (has_any(configuration.status)) {
      set.gateway = configuration.status;
      return;
    }
  }
  for (const BackupConfiguration& configuration : set.configurations) {
    if (!configuration.status.problem.empty()) {
      set.gateway.problem = configuration.status.problem;
      return;
    }
  }
}

BackupSet read_backup(const std::string& path) {
  BackupSet set;
  set.source = path;
  if (platform::is_folder(path.c_str())) {
    read_folder(set);
  } else {
    std::vector<uint8_t> bytes;
    if (!read_whole_file(path, &bytes)) {
      set.problem = "cannot be read";
      return set;
    }
    if (bytes.size() >= 4 && bytes[0] == 'P' && bytes[1] == 'K') {
      read_zip(set);
    } else {
      set.kind = "configuration";
      set.configurations.push_back(read_configuration_archive(file_name_of(path), bytes));
    }
  }
  fill_gateway(set);
  return set;
}

unsigned record_channel(const BackupConfiguration& configuration) {
  if (!configuration.entry || configuration.entry->code < 1 || configuration.entry->code > 8) return 0;
  return (configuration.entry->code - 1) % 4 + 1;
}

bool is_channel_record(const BackupConfiguration& configuration) {
  return configuration.entry && configuration.entry->code >= 1 && configuration.entry->code <= 4;
}

bool is_input_record(const BackupConfiguration& configuration) {
  return configuration.entry && configuration.entry->code >= 5 && configuration.entry->code <= 8;
}

std::optional<uint32_t> record_version(const BackupConfiguration& configuration) {
  if (!record_channel(configuration) || configuration.data.size() < RecordHeader::SIZE) return std::nullopt;
  return read_record_header(configuration.data.data()).version;
}
