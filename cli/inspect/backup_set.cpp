// Reading a backup from disk or memory into a BackupSet: one configuration
// archive at a time, read in order, sizes checked before anything is taken.
#include <algorithm>
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
// A status.txt is some 200 bytes.
constexpr uint64_t STATUS_LIMIT = 64 * 1024;

using Piece = std::function<void(std::span<const uint8_t>)>;
using FilePointer = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

std::string mib_text(uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

GatewayInfo read_status_txt(const std::vector<uint8_t>& text) {
  GatewayInfo info;
  if (text.empty()) return info;
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

const ConfigurationEntry* by_gateway_path(const char* path) {
  for (const ConfigurationEntry* entry = configuration_table; entry->gateway_path; ++entry)
    if (std::strcmp(entry->gateway_path, path) == 0) return entry;
  return nullptr;
}

// Reads one configuration archive of `length` bytes from `read`. `name` picks
// the configuration when it is a member name of the table; otherwise the first
// member that is a configuration's file does. The file is kept when at most
// `keep` bytes; every piece of it also goes to `piece`.
BackupConfiguration scan_archive(const std::string& name, const TarSource& read, uint64_t length, uint64_t keep,
                                 const Piece& piece = {}) {
  BackupConfiguration c;
  c.archive_size = length;
  c.entry = find_configuration_by_member(name.c_str());
  bool found = false, whole = false, status_found = false;
  std::string current;  // the member being visited
  std::vector<uint8_t> status;
  const TarStatus scanned = tar_scan(read, length, [&](const TarHeader& header) {
    current = header.name;
    TarMemberAction action;
    const bool wanted = c.entry ? std::strcmp(header.name, c.entry->gateway_path) == 0 : by_gateway_path(header.name) != nullptr;
    if (!found && wanted) {
      if (!c.entry) c.entry = by_gateway_path(header.name);
      found = true;
      c.size = header.size;
      c.kept = header.size <= keep;
      if (c.kept && header.size <= length) c.data.reserve(header.size);
      if (header.size == 0) whole = true;
      uint64_t left = header.size;
      action.data = [&c, &piece, &whole, left](std::span<const uint8_t> bytes) mutable {
        if (c.kept) c.data.insert(c.data.end(), bytes.begin(), bytes.end());
        if (piece) piece(bytes);
        left -= bytes.size();
        whole = left == 0;
      };
    } else if (!status_found && std::strcmp(header.name, "status.txt") == 0) {
      status_found = true;
      if (header.size > STATUS_LIMIT) {
        c.status.problem = "status.txt is larger than " + std::to_string(STATUS_LIMIT >> 10) + " KiB; not read";
      } else {
        action.data = [&status](std::span<const uint8_t> bytes) { status.insert(status.end(), bytes.begin(), bytes.end()); };
      }
    }
    return action;
  });
  const bool ended = scanned == TarStatus::NullRecord || scanned == TarStatus::Success;
  if (!c.entry) {
    c.name = name;
    c.problem = "holds no configuration file of the gateway";
  } else {
    const std::string member = c.entry->member_name;
    c.name = member.substr(0, member.size() - std::strlen(TAR_SUFFIX));
    const std::string quoted = std::string("'") + c.entry->gateway_path + "' ";
    if (!found) c.problem = quoted + (ended ? "not found" : tar_strerror(scanned));
    else if (!whole) c.problem = quoted + tar_strerror(scanned == TarStatus::Cut ? TarStatus::Cut : TarStatus::ReadFailed);
  }
  if (!c.problem.empty()) {
    c.data.clear();
    c.data.shrink_to_fit();
  }
  // status.txt counts only when it was read to its end.
  if (c.status.problem.empty() && (ended || current != "status.txt")) c.status = read_status_txt(status);
  return c;
}

TarSource file_source(std::FILE* file) {
  return [file](uint8_t* buffer, std::size_t count) { return std::fread(buffer, 1, count, file) == count; };
}

TarSource zip_source(ZipEntryStream* stream) {
  return [stream](uint8_t* buffer, std::size_t count) { return zip_entry_stream_read(stream, buffer, count); };
}

// A configuration archive that was not read; `name` is its entry or file name.
BackupConfiguration refused(const std::string& name, std::string problem) {
  BackupConfiguration c;
  c.entry = find_configuration_by_member(name.c_str());
  c.name = c.entry ? name.substr(0, name.size() - std::strlen(TAR_SUFFIX)) : name;
  c.problem = std::move(problem);
  c.kept = false;
  return c;
}

// Why a file cannot be read as a configuration archive, or empty when `file` was opened.
std::string open_archive_file(const std::string& path, FilePointer* file, uint64_t* size) {
  std::FILE* opened = nullptr;
  switch (platform::open_regular_file(path.c_str(), &opened)) {
    case platform::FileOpen::Opened: break;
    case platform::FileOpen::Missing: return "not found";
    case platform::FileOpen::NotRegular: return "is not a regular file; not read";
    case platform::FileOpen::Failed: return "cannot be read";
  }
  file->reset(opened);
  if (!platform::file_size(opened, size)) return "cannot be read";
  if (*size > BACKUP_ENTRY_LIMIT) return "is larger than " + mib_text(BACKUP_ENTRY_LIMIT) + "; not read";
  return "";
}

BackupConfiguration read_archive_file(const std::string& name, const std::string& path, uint64_t keep,
                                      const Piece& piece = {}) {
  FilePointer file(nullptr, std::fclose);
  uint64_t size = 0;
  const std::string problem = open_archive_file(path, &file, &size);
  BackupConfiguration c = problem.empty() ? scan_archive(name, file_source(file.get()), size, keep, piece)
                                          : refused(name, problem);
  c.file = path;
  return c;
}

BackupConfiguration read_zip_entry(ZipArchive* zip, int64_t index, uint64_t keep, const Piece& piece = {}) {
  if (zip_entry_select(zip, index) != 0) return refused("", "entry cannot be read");
  const std::string name = zip_entry_current_name(zip);
  uint64_t size = 0;
  ZipEntryStreamHandle stream = zip_entry_open_stream(zip, &size);
  BackupConfiguration c;
  if (!stream) {
    c = refused(name, "entry cannot be read");
  } else if (size > BACKUP_ENTRY_LIMIT) {
    // Refused on the size it declares, before anything is inflated.
    c = refused(name, "entry is larger than " + mib_text(BACKUP_ENTRY_LIMIT) + "; not read");
  } else {
    c = scan_archive(name, zip_source(stream.get()), size, keep, piece);
  }
  c.zip_index = index;
  return c;
}

std::string file_name_of(const std::string& path) {
  const std::size_t cut = path.find_last_of(std::string("/") + platform::path_separator());
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Adds `c` unless its configuration was read before: then only a line saying so.
void add(BackupSet& set, BackupConfiguration c) {
  for (const BackupConfiguration& earlier : set.configurations) {
    if (c.entry && earlier.entry == c.entry) {
      BackupConfiguration repeated = refused(c.name, "repeats an earlier archive of this configuration; not read");
      repeated.archive_size = c.archive_size;
      set.configurations.push_back(std::move(repeated));
      return;
    }
  }
  set.configurations.push_back(std::move(c));
}

void read_folder(BackupSet& set) {
  set.kind = "folder";
  for (const char* name : default_fetch_order) {
    const std::string file = std::string(name) + TAR_SUFFIX;
    const std::string path = set.source + platform::path_separator() + file;
    if (platform::path_kind(path.c_str()) == platform::PathKind::Missing) continue;
    add(set, read_archive_file(file, path, CONFIGURATION_KEPT_LIMIT));
  }
  if (set.configurations.empty()) set.problem = "no configuration archive (.tar) of the gateway in the folder";
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
    add(set, read_zip_entry(zip.get(), i, CONFIGURATION_KEPT_LIMIT));
  }
  zip_archive_close(std::move(zip));
}

}  // namespace

BackupConfiguration read_configuration_archive(const std::string& name, std::span<const uint8_t> tar) {
  std::size_t at = 0;
  const TarSource memory = [&](uint8_t* buffer, std::size_t count) {
    if (count > tar.size() - at) return false;
    std::memcpy(buffer, tar.data() + at, count);
    at += count;
    return true;
  };
  return scan_archive(name, memory, tar.size(), CONFIGURATION_KEPT_LIMIT);
}

BackupSet read_backup(const std::string& path) {
  BackupSet set;
  set.source = path;
  std::FILE* opened = nullptr;
  const platform::FileOpen open = platform::open_regular_file(path.c_str(), &opened);
  FilePointer file(opened, std::fclose);
  uint8_t magic[2] = {};
  if (platform::path_kind(path.c_str()) == platform::PathKind::Folder) {
    read_folder(set);
  } else if (open == platform::FileOpen::NotRegular) {
    set.problem = "is not a regular file";
  } else if (open != platform::FileOpen::Opened) {
    set.problem = "cannot be read";
  } else if (std::fread(magic, 1, 2, file.get()) == 2 && magic[0] == 'P' && magic[1] == 'K') {
    file.reset();
    read_zip(set);
  } else {
    file.reset();
    set.kind = "configuration";
    BackupConfiguration c = read_archive_file(file_name_of(path), path, CONFIGURATION_KEPT_LIMIT);
    set.configurations.push_back(std::move(c));
  }
  fill_gateway(set);
  return set;
}

BackupConfiguration read_configuration_again(const BackupSet& set, const BackupConfiguration& configuration,
                                             uint64_t keep, const Piece& piece) {
  const std::string name = configuration.entry ? configuration.entry->member_name : configuration.name;
  if (configuration.zip_index >= 0) {
    ZipArchiveHandle zip = zip_archive_open(set.source.c_str(), -1, 'r');
    if (!zip) return refused(configuration.name, "not a readable zip archive");
    BackupConfiguration c = read_zip_entry(zip.get(), configuration.zip_index, keep, piece);
    zip_archive_close(std::move(zip));
    return c;
  }
  if (!configuration.file.empty()) return read_archive_file(name, configuration.file, keep, piece);
  return refused(configuration.name, "cannot be read again");
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
