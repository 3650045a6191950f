#include "site/restore.h"

#include <cstdio>
#include <optional>

#include "action/action.h"
#include "backup/backup.h"
#include "platform/platform.h"
#include "zip/zip.h"

int restore_archives(const Reporter& reporter, const std::string& address, const std::vector<FetchedArchive>& archives,
                     const RestorePlan& plan) {
  std::string folder;
  std::optional<platform::RemovedOnInterrupt> folder_removed;
  {
    const platform::InterruptsDeferred deferred;
    folder = platform::make_temporary_folder();
    if (!folder.empty()) folder_removed.emplace(folder);
  }
  if (folder.empty()) {
    report_error(reporter, "varnu-site restore: no temporary folder for the backup archive\n");
    return 1;
  }
  const std::string path = folder + platform::path_separator() + "restore.zip";
  const platform::RemovedOnInterrupt archive_removed(path);
  // In the order a backup fetches them, as put_backup expects of a backup archive.
  int result = 1;
  if (ZipArchiveHandle zip = zip_archive_open(path.c_str(), 6, 'w')) {
    bool written = true;
    for (const char* name : default_fetch_order)
      for (const FetchedArchive& archive : archives)
        if (archive.name == name) {
          const std::string entry = archive.name + ".tar";
          written = written && zip_entry_begin(zip.get(), entry.c_str()) == 0 &&
                    zip_entry_append(zip.get(), archive.tar.data(), archive.tar.size()) == 0 &&
                    zip_entry_finish(zip.get()) == 0;
        }
    if (zip_archive_close(std::move(zip)) == 0 && written) {
      CurlGateway gateway(TransferSettings{false, reporter, HttpLimits{}, TFTP_BLKSIZE_DEFAULT});
      result = put_backup(gateway, reporter, address.c_str(), path.c_str(), plan.plan, plan.json, plan.identity) == 0
                   ? 0
                   : 1;
    } else {
      report_error(reporter, "varnu-site restore: the backup archive could not be written in %s\n", folder.c_str());
    }
  }
  const platform::InterruptsDeferred deferred;
  std::remove(path.c_str());
  std::remove(folder.c_str());
  return result;
}
