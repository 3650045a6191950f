// The restore trigger: the last TFTP upload is read as a tar archive and each
// of the 22 configuration files found in it replaces the gateway's file, after
// the record checks a real gateway makes.
#include <archive.h>
#include <archive_entry.h>

#include <memory>

#include "gateway.h"
#include "records.h"

namespace sim {

namespace {

struct ArchiveFree {
  void operator()(archive* a) const { archive_read_free(a); }
};

const ConfigurationFile* configuration_at(const std::string& path) {
  for (const auto& entry : kConfigurations)
    if (path == entry.path) return &entry;
  return nullptr;
}

Reply text_reply(int status, const std::string& text) { return Reply{status, "text/plain", text}; }

// One request-log line in the log's field layout:
//   restore <took|refused|failed> <bytes> RESTORE <path or -> [reason=words_joined_by_underscores]
void log_restore(Gateway& gateway, const char* outcome, std::size_t bytes, const char* target,
                 const std::string& reason = "") {
  std::string token = reason;
  for (char& c : token)
    if (c == ' ') c = '_';
  gateway.log.write("restore %s %zu RESTORE %s%s%s", outcome, bytes, target, token.empty() ? "" : " reason=",
                    token.c_str());
}

}  // namespace

Reply handle_restore(Gateway& gateway) {
  if (gateway.last_upload.sequence == 0) {
    log_restore(gateway, "failed", 0, "-", "nothing uploaded");
    return text_reply(409, "nothing uploaded\n");
  }
  const std::vector<uint8_t>& upload = gateway.last_upload.data;
  std::unique_ptr<archive, ArchiveFree> reader(archive_read_new());
  archive_read_support_format_tar(reader.get());
  if (archive_read_open_memory(reader.get(), upload.data(), upload.size()) != ARCHIVE_OK) {
    log_restore(gateway, "failed", upload.size(), "-", "not a tar archive");
    return text_reply(400, "upload is not a tar archive\n");
  }
  std::string refused;
  unsigned taken = 0;
  archive_entry* entry = nullptr;
  int status;
  while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
    const char* name = archive_entry_pathname(entry);
    const ConfigurationFile* file = name ? configuration_at(name) : nullptr;
    if (!file) continue;
    // A header may claim any size; no member can be larger than the upload itself.
    const la_int64_t size = archive_entry_size(entry);
    if (size < 0 || static_cast<uint64_t>(size) > upload.size()) {
      status = ARCHIVE_FATAL;
      break;
    }
    std::vector<uint8_t> content(static_cast<std::size_t>(size));
    if (archive_read_data(reader.get(), content.data(), content.size()) != static_cast<la_ssize_t>(content.size())) {
      status = ARCHIVE_FATAL;
      break;
    }
    const std::string reason = check_restored_file(file->path, content, gateway.identity.firmware_version);
    if (!reason.empty()) {
      log_restore(gateway, "refused", content.size(), file->path, reason);
      refused += std::string(file->path) + ": " + reason + "\n";
      continue;
    }
    if (!store_configuration_file(gateway, file->path, content)) {
      log_restore(gateway, "failed", content.size(), file->path, "cannot be stored");
      refused += std::string(file->path) + ": cannot be stored\n";
      continue;
    }
    log_restore(gateway, "took", content.size(), file->path);
    ++taken;
  }
  if (status != ARCHIVE_EOF) {
    log_restore(gateway, "failed", upload.size(), "-", "damaged tar archive");
    refused += "damaged tar archive\n";
  }
  if (taken == 0 && refused.empty()) log_restore(gateway, "took", 0, "-", "no configuration file");
  if (!refused.empty()) return text_reply(422, "restore refused\n" + refused);
  return Reply{200, "application/json", "{\"result\":\"restore started\"}\n"};
}

}  // namespace sim
