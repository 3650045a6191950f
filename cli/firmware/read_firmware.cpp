// Reading a firmware file: a package (zip from memory, two WinZip AES-256
// entries) or a raw image.
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "firmware/firmware.h"
#include "platform/platform.h"

namespace {

// Internal results of read_firmware_package; callers only test for 0.
enum PackageResult {
  PACKAGE_READ = 0,
  PACKAGE_NO_MEMORY = -1,
  PACKAGE_NOT_ZIP = -2,
  PACKAGE_BAD_HEADER_ENTRY = -3,
  PACKAGE_BAD_HEADER_LENGTH = -4,
  PACKAGE_BAD_IMAGE_ENTRY = -5,
  PACKAGE_IMAGE_TOO_LARGE = -6,
  PACKAGE_FILE_TOO_LARGE = -7,
};

enum class FileRead { Complete, Unreadable, TooLarge, NoMemory };

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
struct ArchiveDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
  void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveDiscard>;
using EntryHandle = std::unique_ptr<zip_file_t, EntryCloser>;

bool append_bytes(std::vector<uint8_t>* out, const uint8_t* bytes, std::size_t count) {
  try {
    out->insert(out->end(), bytes, bytes + count);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Room for the expected byte count up front, so that a large image is not
// copied while it grows. Capped: counts come from outside.
void reserve_bytes(std::vector<uint8_t>* out, uint64_t expected, uint64_t cap) {
  try {
    out->reserve(static_cast<std::size_t>(expected < cap ? expected : cap));
  } catch (const std::bad_alloc&) {
    // Growing piece by piece still works, or reports the shortage there.
  }
}

// Whole file in 1024-byte reads. Stops once more than `limit` bytes were read.
FileRead read_whole_file(const std::string& path, uint64_t limit, std::vector<uint8_t>* out) {
  std::unique_ptr<std::FILE, FileCloser> file(platform::open_file(path.c_str(), "rb"));
  if (!file) {
    std::fprintf(stderr, "Cannot open the firmware file '%s': %s\n", path.c_str(), std::strerror(errno));
    return FileRead::Unreadable;
  }
  uint64_t file_size = 0;
  if (platform::file_size(file.get(), &file_size)) reserve_bytes(out, file_size, limit + 1);
  uint8_t piece[1024];
  std::size_t count;
  while ((count = std::fread(piece, 1, sizeof piece, file.get())) > 0) {
    if (!append_bytes(out, piece, count)) return FileRead::NoMemory;
    if (out->size() > limit) return FileRead::TooLarge;
  }
  if (std::ferror(file.get())) {
    std::fprintf(stderr, "Cannot read the firmware file '%s': %s\n", path.c_str(), std::strerror(errno));
    return FileRead::Unreadable;
  }
  return FileRead::Complete;
}

void report_too_large(const char* what, uint64_t limit) {
  std::fprintf(stderr, "The firmware %s is larger than %llu bytes.\n", what, static_cast<unsigned long long>(limit));
}

// Messages of the steps that locate, inspect and open one entry.
struct EntrySteps {
  const char* name;
  const char* not_found;
  const char* no_information;
  const char* not_aes_256;
};

constexpr EntrySteps HEADER_STEPS = {FIRMWARE_HEADER_ENTRY, "File format is invalid (bh).\n",
                                     "File format is invalid (ppbh).\n", "File format is invalid (ppfbh).\n"};
constexpr EntrySteps IMAGE_STEPS = {FIRMWARE_IMAGE_ENTRY, "File format is invalid (binary).\n",
                                    "File format is invalid (ppb).\n", "File format is invalid (ppfb).\n"};

// Locates the entry by its exact name, requires WinZip AES-256 and opens it
// with the package password. Prints the failing step's message and returns
// nullptr on failure; *size (when wanted) is the entry's declared uncompressed size.
EntryHandle open_entry(zip_t* archive, const EntrySteps& steps, uint64_t* size) {
  const zip_int64_t index = zip_name_locate(archive, steps.name, 0);
  if (index < 0) {
    std::printf("%s", steps.not_found);
    return nullptr;
  }
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0) {
    std::printf("%s", steps.no_information);
    return nullptr;
  }
  if (!(stat.valid & ZIP_STAT_ENCRYPTION_METHOD) || stat.encryption_method != ZIP_EM_AES_256) {
    std::printf("%s", steps.not_aes_256);
    return nullptr;
  }
  EntryHandle entry(
      zip_fopen_index_encrypted(archive, static_cast<zip_uint64_t>(index), 0, FIRMWARE_PACKAGE_PASSWORD));
  if (!entry) {
    std::printf("File format is invalid (pbh).\n");
    return nullptr;
  }
  if (size) *size = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
  return entry;
}

int hex_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 64 hexadecimal digits, high nibble first; nothing when any is not a digit.
std::optional<FirmwareDigest> decode_header(const uint8_t* text) {
  FirmwareDigest digest;
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const int high = hex_value(text[2 * i]);
    const int low = hex_value(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return digest;
}

int read_header(zip_t* archive, std::optional<FirmwareDigest>* expected) {
  EntryHandle entry = open_entry(archive, HEADER_STEPS, nullptr);
  if (!entry) return PACKAGE_BAD_HEADER_ENTRY;
  uint8_t text[128];
  if (zip_fread(entry.get(), text, sizeof text) != 64) {
    std::printf("File content length is invalid (bh).\n");
    return PACKAGE_BAD_HEADER_LENGTH;
  }
  *expected = decode_header(text);
  return PACKAGE_READ;
}

// The image in pieces of up to 4096 bytes. A read error ends the image where
// it happened and is not reported here: the digest comparison judges the
// bytes. (libzip reports a CRC error at the end of AE-2 entries made by 7-Zip,
// which carry no CRC by design, after delivering every byte.)
int read_image(zip_t* archive, std::vector<uint8_t>* image) {
  uint64_t declared = 0;
  EntryHandle entry = open_entry(archive, IMAGE_STEPS, &declared);
  if (!entry) return PACKAGE_BAD_IMAGE_ENTRY;
  reserve_bytes(image, declared, FIRMWARE_MAX_SIZE + 1);
  uint8_t piece[4096];
  for (;;) {
    const zip_int64_t count = zip_fread(entry.get(), piece, sizeof piece);
    if (count <= 0) break;
    if (!append_bytes(image, piece, static_cast<std::size_t>(count))) {
      std::printf("memory error\n");
      return PACKAGE_NO_MEMORY;
    }
    // A larger image can never pass; stop before a compressed bomb fills memory.
    if (image->size() > FIRMWARE_MAX_SIZE) {
      report_too_large("image", FIRMWARE_MAX_SIZE);
      return PACKAGE_IMAGE_TOO_LARGE;
    }
  }
  return PACKAGE_READ;
}

}  // namespace

int read_firmware_package_bytes(const uint8_t* bytes, std::size_t count, FirmwareImage* image,
                                std::optional<FirmwareDigest>* expected) {
  image->data.clear();
  expected->reset();
  // libzip takes no bytes for an empty archive; an empty file is no package.
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = count ? zip_source_buffer_create(bytes, count, 0, &error) : nullptr;
  zip_t* opened = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  zip_error_fini(&error);
  if (!opened) {
    if (source) zip_source_free(source);
    std::printf("File format is invalid (open).\n");
    return PACKAGE_NOT_ZIP;
  }
  ArchiveHandle archive(opened);

  int result = read_header(archive.get(), expected);
  if (result == PACKAGE_READ) result = read_image(archive.get(), &image->data);
  if (result != PACKAGE_READ) {
    image->data.clear();
    expected->reset();
  }
  return result;
}

int read_firmware_package(FirmwareImage* image, std::optional<FirmwareDigest>* expected) {
  std::printf("Preparing file...\n");
  image->data.clear();
  expected->reset();
  // Far beyond any real package (the image plus a little zip and AES framing);
  // keeps a wrongly chosen disc image out of memory.
  constexpr uint64_t PACKAGE_LIMIT = 2 * FIRMWARE_MAX_SIZE;
  std::vector<uint8_t> file;
  switch (read_whole_file(image->path, PACKAGE_LIMIT, &file)) {
    case FileRead::NoMemory:
      std::printf("memory error\n");
      return PACKAGE_NO_MEMORY;
    case FileRead::TooLarge:
      report_too_large("file", PACKAGE_LIMIT);
      return PACKAGE_FILE_TOO_LARGE;
    case FileRead::Unreadable:
      file.clear();  // an unreadable file is an empty one: no zip
      break;
    case FileRead::Complete:
      break;
  }
  return read_firmware_package_bytes(file.data(), file.size(), image, expected);
}

int read_firmware_raw(FirmwareImage* image) {
  std::printf("Preparing file...\n");
  image->data.clear();
  switch (read_whole_file(image->path, FIRMWARE_MAX_SIZE, &image->data)) {
    case FileRead::Complete:
      return 0;
    case FileRead::NoMemory:
      std::printf("memory error\n");
      break;
    case FileRead::TooLarge:
      report_too_large("image", FIRMWARE_MAX_SIZE);
      break;
    case FileRead::Unreadable:
      break;
  }
  image->data.clear();  // never an image from a partial read
  return -1;
}
