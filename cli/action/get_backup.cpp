#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "action/action.h"
#include "action/backup_name.h"
#include "backup/backup.h"
#include "platform/platform.h"
#include "zip/zip.h"

namespace {

const char* const TAG = "backup";

// A configuration name becomes a file name in the output folder.
bool safe_configuration_name(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
         name.find(platform::path_separator()) == std::string::npos && name.find("..") == std::string::npos;
}

std::string join_path(const std::string& folder, const std::string& name) {
  const char separator = platform::path_separator();
  if (!folder.empty() && folder.back() == separator) return folder + name;
  return folder + separator + name;
}

// The local time at which the action started; 1900-01-00 00:00:00 when it cannot be converted.
std::tm start_time() {
  std::tm when{};
  if (!platform::local_time(std::time(nullptr), &when)) when = std::tm{};
  return when;
}

// Stores one fetched archive; false (with a message) when it could not be written.
bool store(const Reporter& reporter, ZipArchive* zip, const std::string& folder, const std::string& name,
           const std::vector<uint8_t>& data) {
  const std::string file_name = name + ".tar";
  if (zip) {
    if (zip_entry_begin(zip, file_name.c_str()) == 0 && zip_entry_append(zip, data.data(), data.size()) == 0 &&
        zip_entry_finish(zip) == 0)
      return true;
    report_error(reporter, "get_backup: could not add '%s' to the backup archive.\n", file_name.c_str());
    return false;
  }
  const std::string path = join_path(folder, file_name);
  if (platform::write_file_replacing(path.c_str(), data.data(), data.size())) return true;
  report_error(reporter, "get_backup: could not write '%s'.\n", path.c_str());
  return false;
}

}  // namespace

std::string backup_archive_name(const char* address, const std::tm& when) {
  std::string safe = address;
  for (char& c : safe)
    if (std::strchr("<>:\"/\\|?*", c)) c = '_';
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "_LUMARO_%04u%02u%02u_%02u%02u%02u.zip", static_cast<unsigned>(when.tm_year + 1900),
                static_cast<unsigned>(when.tm_mon + 1), static_cast<unsigned>(when.tm_mday),
                static_cast<unsigned>(when.tm_hour), static_cast<unsigned>(when.tm_min),
                static_cast<unsigned>(when.tm_sec));
  return "backup_" + safe + stamp;
}

int get_backup(Gateway& gateway, const Reporter& reporter, const char* ip, const char* backupfileout,
               const char* backupfileouttype, const std::vector<std::string>* backupconfig) {
  if (!ip) {
    report(reporter, "Missing arguments for action get_backup.");
    return 2;
  }
  // Everything that can be known wrong is refused before the first fetch, so
  // that a backup never runs only to be thrown away.
  const bool to_zip = backupfileouttype && std::strcmp(backupfileouttype, "zip") == 0;
  if (backupfileouttype && !to_zip && std::strcmp(backupfileouttype, "directory") != 0) {
    report_error(reporter, "get_backup: unknown output type '%s'; accepted values: \"zip\", \"directory\".\n",
                 backupfileouttype);
    return 2;
  }
  std::vector<std::string> names(default_fetch_order, default_fetch_order + CONFIGURATION_COUNT);
  if (backupconfig && !backupconfig->empty()) names = *backupconfig;
  for (const std::string& name : names) {
    if (!safe_configuration_name(name)) {
      report_error(reporter, "get_backup: configuration name '%s' refused: it would write outside the output folder.\n",
                   name.c_str());
      return 2;
    }
  }
  if (!backupfileout || !*backupfileout) {
    report_error(reporter, "get_backup: no output folder given (--backupfileout).\n");
    return 2;
  }
  if (!platform::is_writable_folder(backupfileout)) {
    report_error(reporter, "get_backup: output folder '%s' does not exist or is not writable.\n", backupfileout);
    return 1;
  }
  const std::string folder = backupfileout;
  const std::string base_url = std::string("http://") + ip;

  ZipArchiveHandle zip;
  std::string zip_path;
  if (to_zip) {
    zip_path = join_path(folder, backup_archive_name(ip, start_time()));
    zip = zip_archive_open(zip_path.c_str(), 6, 'w');
    if (!zip) {
      report_error(reporter, "get_backup: the backup archive '%s' cannot be created.\n", zip_path.c_str());
      return 1;
    }
  }

  bool complete = true;
  std::size_t stored = 0;
  for (auto name = names.begin(); name != names.end(); ++name) {
    FetchedConfiguration record;
    const Transfer fetched = fetch_configuration(gateway, reporter, base_url.c_str(), name->c_str(), &record);
    if (fetched == Transfer::Unreachable) {
      // Each of the others would wait for the same silence.
      if (name + 1 != names.end())
        report_error(reporter,
                     "get_backup: the gateway %s does not answer; the other configurations are not fetched.\n", ip);
      complete = false;
      break;
    }
    if (fetched != Transfer::Done) {
      report(reporter, "%s\tbackup file not found for action get_backup.\r\n\r\n", TAG);
      complete = false;
      continue;
    }
    report(reporter, "\033[32m%s\tbackup file OK, adding to backup archive...\r\n\r\n\033[0m", TAG);
    if (store(reporter, zip.get(), folder, *name, record.buffer.data))
      ++stored;
    else
      complete = false;
    release_fetched_configuration(&record);
  }

  // The archive appears under its name only complete; with nothing in it, not at all.
  // The archive is written to a temporary that only the zip library knows by
  // name: an interrupt must wait until it is renamed or removed.
  const platform::InterruptsDeferred deferred;
  if (zip && stored > 0 && zip_archive_close(std::move(zip)) != 0) {
    report_error(reporter, "get_backup: the backup archive '%s' could not be written.\n", zip_path.c_str());
    return 1;
  }
  if (to_zip && stored > 0) report(reporter, "%s\tsaved '%s'\n", TAG, zip_path.c_str());
  return complete ? 0 : 1;
}
