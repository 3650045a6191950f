// The backup endpoint: one configuration as a tar archive written with
// libarchive (a tar implementation independent of the console tool's), holding
// the configuration file under its gateway path and the status document as
// status.txt, in that order.
#include <archive.h>
#include <archive_entry.h>

#include <ctime>
#include <memory>

#include "gateway.h"

namespace sim {

namespace {

struct ArchiveFree {
  void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryFree {
  void operator()(archive_entry* e) const { archive_entry_free(e); }
};

la_ssize_t append_to_string(archive*, void* context, const void* buffer, size_t length) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(buffer), length);
  return static_cast<la_ssize_t>(length);
}

bool add_member(archive* a, const char* name, const void* data, size_t size, std::time_t mtime) {
  std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
  archive_entry_set_pathname(entry.get(), name);
  archive_entry_set_size(entry.get(), static_cast<la_int64_t>(size));
  archive_entry_set_filetype(entry.get(), AE_IFREG);
  archive_entry_set_perm(entry.get(), 0644);
  archive_entry_set_mtime(entry.get(), mtime, 0);
  archive_entry_set_uname(entry.get(), "root");
  archive_entry_set_gname(entry.get(), "root");
  if (archive_write_header(a, entry.get()) != ARCHIVE_OK) return false;
  return size == 0 || archive_write_data(a, data, size) == static_cast<la_ssize_t>(size);
}

}  // namespace

Reply handle_backup(Gateway& gateway, const std::string& config_name) {
  const ConfigurationFile* configuration = find_configuration(config_name);
  if (!configuration) return html_error(404);
  const std::vector<uint8_t>* content = configuration_file(gateway, configuration->path);
  if (!content) return html_error(404);
  const std::string status = status_document(gateway);

  std::string body;
  std::unique_ptr<archive, ArchiveFree> writer(archive_write_new());
  // ustar, as an embedded busybox or libarchive would write it; no padding to 10 KiB records.
  if (archive_write_set_format_ustar(writer.get()) != ARCHIVE_OK ||
      archive_write_set_bytes_per_block(writer.get(), 0) != ARCHIVE_OK ||
      archive_write_open(writer.get(), &body, nullptr, append_to_string, nullptr) != ARCHIVE_OK)
    return html_error(500);
  const std::time_t now = std::time(nullptr);
  if (!add_member(writer.get(), configuration->path, content->data(), content->size(), now) ||
      !add_member(writer.get(), "status.txt", status.data(), status.size(), now) ||
      archive_write_close(writer.get()) != ARCHIVE_OK)
    return html_error(500);
  return Reply{200, "application/x-tar", std::move(body)};
}

}  // namespace sim
