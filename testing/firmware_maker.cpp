#include "testing/firmware_maker.h"

#include <zip.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "firmware/winzip_aes.h"
#include "testing/winzip_aes_maker.h"
#include "util/bytes.h"

namespace {

void put_text(uint8_t* block, std::size_t offset, const std::string& text) {
  std::copy_n(text.begin(), std::min(text.size(), FirmwareInfo::TEXT_SIZE), block + offset);
}

zip_uint16_t zip_method(PackageEncryption encryption) {
  switch (encryption) {
    case PackageEncryption::None:
      return ZIP_EM_NONE;
    case PackageEncryption::Aes128:
      return ZIP_EM_AES_128;
    case PackageEncryption::Aes192:
      return ZIP_EM_AES_192;
    case PackageEncryption::Aes256:
      return ZIP_EM_AES_256;
    case PackageEncryption::Traditional:
      return ZIP_EM_TRAD_PKWARE;
  }
  return ZIP_EM_NONE;
}

struct ArchiveDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct SourceRelease {
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};

// A libzip error record that releases its text on every way out.
struct ZipError {
  zip_error_t error;
  ZipError() { zip_error_init(&error); }
  ~ZipError() { zip_error_fini(&error); }
};

int fail(zip_error_t* reason, std::string* error) {
  *error = zip_error_strerror(reason);
  return -1;
}

// Adds one entry whose bytes stay owned by the caller until the archive is closed.
bool add_entry(zip_t* archive, const std::string& name, const uint8_t* bytes, std::size_t count,
               PackageEncryption encryption, const PackageDescription& description) {
  zip_source_t* source = zip_source_buffer(archive, count ? bytes : nullptr, count, 0);
  if (!source) return false;
  const zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(source);
    return false;
  }
  const auto entry = static_cast<zip_uint64_t>(index);
  if (zip_set_file_compression(archive, entry, description.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) != 0)
    return false;
  const zip_uint16_t method = zip_method(encryption);
  return method == ZIP_EM_NONE ||
         zip_file_set_encryption(archive, entry, method, description.password.c_str()) == 0;
}

std::vector<uint8_t> zstd_compress(const uint8_t* bytes, std::size_t count) {
  std::vector<uint8_t> compressed(ZSTD_compressBound(count));
  compressed.resize(ZSTD_compress(compressed.data(), compressed.size(), bytes, count, 3));
  return compressed;
}

// libzip cannot write zstd entries; the entries are made here and wrapped by our own zip writer.
std::vector<uint8_t> make_zstd_package(const std::string& header, const std::vector<uint8_t>& image,
                                       const PackageDescription& description) {
  std::vector<AesZipEntry> entries;
  const auto* header_bytes = reinterpret_cast<const uint8_t*>(header.data());
  if (!description.header_entry.empty())
    entries.push_back({description.header_entry, ZIP_METHOD_ZSTD, header.size(),
                       zstd_compress(header_bytes, header.size())});
  if (!description.image_entry.empty())
    entries.push_back({description.image_entry, ZIP_METHOD_ZSTD, image.size(), zstd_compress(image.data(), image.size())});
  return make_aes_zip(entries, description.password);
}

}  // namespace

std::vector<uint8_t> make_firmware_image(const ImageDescription& description) {
  std::vector<uint8_t> image(static_cast<std::size_t>(description.size));
  // xorshift32: cheap filler that does not compress away.
  uint32_t state = description.seed ? description.seed : 1;
  for (uint8_t& byte : image) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state);
  }
  uint8_t block[FirmwareInfo::SIZE] = {};
  put_text(block, FirmwareInfo::MODEL_NAME, description.model_name);
  put_text(block, FirmwareInfo::MODEL_DESCRIPTION, description.model_description);
  put_text(block, FirmwareInfo::VERSION_STRING, description.version_string);
  put_le32(block, FirmwareInfo::VERSION_NUMBER, description.version_number);
  put_text(block, FirmwareInfo::VERSION_DATE, description.version_date);
  put_text(block, FirmwareInfo::VERSION_TIME, description.version_time);
  block[FirmwareInfo::CHANNEL_COUNT] = description.dali_number_of_channel;
  if (image.size() > FirmwareInfo::OFFSET) {
    const std::size_t room = std::min<std::size_t>(FirmwareInfo::SIZE, image.size() - FirmwareInfo::OFFSET);
    std::copy_n(block, room, image.begin() + FirmwareInfo::OFFSET);
  }
  return image;
}

int make_firmware_package(const std::vector<uint8_t>& image, const PackageDescription& description,
                          std::vector<uint8_t>* package, std::string* error) {
  const std::string header =
      description.header ? *description.header : digest_hex(firmware_digest(image.data(), image.size()));
  if (description.zstd) {
    *package = make_zstd_package(header, image, description);
    return 0;
  }
  ZipError reason;
  // The archive is written into a memory source that outlives it.
  std::unique_ptr<zip_source_t, SourceRelease> memory(zip_source_buffer_create(nullptr, 0, 0, &reason.error));
  if (!memory) return fail(&reason.error, error);
  zip_source_keep(memory.get());
  std::unique_ptr<zip_t, ArchiveDiscard> archive(zip_open_from_source(memory.get(), ZIP_TRUNCATE, &reason.error));
  if (!archive) {
    zip_source_free(memory.get());  // the reference the failed open did not take
    return fail(&reason.error, error);
  }
  const bool added =
      (description.header_entry.empty() ||
       add_entry(archive.get(), description.header_entry, reinterpret_cast<const uint8_t*>(header.data()),
                 header.size(), description.header_encryption, description)) &&
      (description.image_entry.empty() || add_entry(archive.get(), description.image_entry, image.data(),
                                                    image.size(), description.image_encryption, description));
  if (!added || zip_close(archive.get()) != 0) {
    *error = zip_strerror(archive.get());
    return -1;
  }
  archive.release();  // zip_close has freed it

  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_source_stat(memory.get(), &stat) != 0 || zip_source_open(memory.get()) != 0)
    return fail(zip_source_error(memory.get()), error);
  package->resize(static_cast<std::size_t>(stat.size));
  const zip_int64_t count = zip_source_read(memory.get(), package->data(), package->size());
  zip_source_close(memory.get());
  if (count < 0 || static_cast<zip_uint64_t>(count) != stat.size) return fail(zip_source_error(memory.get()), error);
  return 0;
}

int write_firmware_package(const char* path, const std::vector<uint8_t>& image,
                           const PackageDescription& description, std::string* error) {
  std::vector<uint8_t> package;
  if (make_firmware_package(image, description, &package, error) != 0) return -1;
  return write_bytes(path, package, error);
}

int write_bytes(const char* path, const std::vector<uint8_t>& bytes, std::string* error) {
  std::FILE* file = std::fopen(path, "wb");
  bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && std::fclose(file) != 0) written = false;
  if (written) return 0;
  *error = std::string("cannot write ") + path + ": " + std::strerror(errno);
  return -1;
}

std::string digest_hex(const FirmwareDigest& digest, bool upper_case) {
  const char* digits = upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text;
  for (uint8_t byte : digest) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

std::optional<PackageEncryption> encryption_by_name(const std::string& name) {
  static const std::pair<const char*, PackageEncryption> names[] = {
      {"none", PackageEncryption::None},       {"aes128", PackageEncryption::Aes128},
      {"aes192", PackageEncryption::Aes192},   {"aes256", PackageEncryption::Aes256},
      {"traditional", PackageEncryption::Traditional}};
  for (const auto& [text, encryption] : names) {
    if (name == text) return encryption;
  }
  return std::nullopt;
}
