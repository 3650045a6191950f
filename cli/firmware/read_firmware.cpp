// Reading a firmware file: a package (zip from memory, two WinZip AES-256
// entries found and checked through libzip, decrypted and decoded by our own
// reader) or a raw image.
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "firmware/firmware.h"
#include "firmware/winzip_aes.h"
#include "platform/platform.h"

namespace {

// The header is read once, up to 128 bytes; exactly 64 must come back.
constexpr uint64_t HEADER_READ = 128;
constexpr std::size_t HEADER_DIGITS = 64;

enum class FileRead { Complete, Unreadable, TooLarge, NoMemory };

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
struct ArchiveDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveDiscard>;

bool append_bytes(std::vector<uint8_t>* out, const uint8_t* bytes, std::size_t count) {
  try {
    out->insert(out->end(), bytes, bytes + count);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Room for the expected byte count up front, so that a large file is not
// copied while it grows. Capped: counts come from outside.
void reserve_bytes(std::vector<uint8_t>* out, uint64_t expected, uint64_t cap) {
  try {
    out->reserve(static_cast<std::size_t>(expected < cap ? expected : cap));
  } catch (const std::bad_alloc&) {
    // Growing piece by piece still works, or reports the shortage there.
  }
}

std::string file_note(const char* what, const std::string& path) {
  return std::string("Cannot ") + what + " the firmware file '" + path + "': " + std::strerror(errno) + "\n";
}

// Whole file in 1024-byte reads. Stops once more than `limit` bytes were read.
FileRead read_whole_file(const std::string& path, uint64_t limit, std::vector<uint8_t>* out, std::string* note) {
  std::unique_ptr<std::FILE, FileCloser> file(platform::open_file(path.c_str(), "rb"));
  if (!file) {
    *note = file_note("open", path);
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
    *note = file_note("read", path);
    return FileRead::Unreadable;
  }
  return FileRead::Complete;
}

std::string too_large_note(const char* what, uint64_t limit) {
  return std::string("The firmware ") + what + " is larger than " + std::to_string(limit) + " bytes.\n";
}

// The reasons of the steps that locate, inspect, open and read one entry.
struct EntrySteps {
  const char* name;
  FirmwareReason not_found;
  FirmwareReason no_information;
  FirmwareReason not_aes_256;
  FirmwareReason not_opened;
  FirmwareReason damaged;
  FirmwareReason too_large;
  uint64_t limit;  // of the decoded entry
};

constexpr EntrySteps HEADER_STEPS = {FIRMWARE_HEADER_ENTRY,           FirmwareReason::HeaderNotFound,
                                     FirmwareReason::HeaderNoInformation, FirmwareReason::HeaderNotAes256,
                                     FirmwareReason::HeaderNotOpened, FirmwareReason::HeaderLength,
                                     FirmwareReason::HeaderLength,    HEADER_READ};
constexpr EntrySteps IMAGE_STEPS = {FIRMWARE_IMAGE_ENTRY,           FirmwareReason::ImageNotFound,
                                    FirmwareReason::ImageNoInformation, FirmwareReason::ImageNotAes256,
                                    FirmwareReason::ImageNotOpened, FirmwareReason::ImageDamaged,
                                    FirmwareReason::ImageTooLarge,  FIRMWARE_MAX_SIZE};

// Locates the entry by its exact name, requires WinZip AES-256 and reads it
// with the package password into *plain.
FirmwareResult read_entry(zip_t* archive, const EntrySteps& steps, std::vector<uint8_t>* plain) {
  const zip_int64_t located = zip_name_locate(archive, steps.name, 0);
  if (located < 0) return {steps.not_found, ""};
  const auto index = static_cast<zip_uint64_t>(located);
  AesEntryInfo info;
  uint64_t raw_size = 0;
  switch (zip_aes_entry_info(archive, index, &info, &raw_size)) {
    case EntryLookup::Unreadable:
      return {steps.no_information, ""};
    case EntryLookup::NotWinZipAes:
      return {steps.not_aes_256, ""};
    case EntryLookup::WinZipAes:
      break;
  }
  if (info.strength != 3) return {steps.not_aes_256, ""};
  switch (read_zip_aes_entry(archive, index, info, raw_size, FIRMWARE_PACKAGE_PASSWORD, steps.limit, plain)) {
    case AesEntryError::None:
      return {};
    case AesEntryError::WrongPassword:
      return {steps.not_opened, ""};
    case AesEntryError::UnsupportedMethod:
      return {steps.not_opened, std::string("The firmware package entry ") + steps.name +
                                    " is compressed with zip method " + std::to_string(info.method) +
                                    ", which this tool cannot decode.\n"};
    case AesEntryError::Damaged:
      return {steps.damaged, std::string("The firmware package entry ") + steps.name + " is damaged.\n"};
    case AesEntryError::TooLarge:
      return {steps.too_large, steps.limit == FIRMWARE_MAX_SIZE ? too_large_note("image", FIRMWARE_MAX_SIZE) : ""};
    case AesEntryError::NoMemory:
      break;
  }
  return {FirmwareReason::NoMemory, ""};
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

FirmwareResult read_package(zip_t* archive, FirmwareImage* image, std::optional<FirmwareDigest>* expected) {
  std::vector<uint8_t> header;
  FirmwareResult result = read_entry(archive, HEADER_STEPS, &header);
  if (!result.ok()) return result;
  if (header.size() != HEADER_DIGITS) return {FirmwareReason::HeaderLength, ""};
  *expected = decode_header(header.data());
  return read_entry(archive, IMAGE_STEPS, &image->data);
}

}  // namespace

FirmwareResult read_firmware_package_bytes(const uint8_t* bytes, std::size_t count, FirmwareImage* image,
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
    return {FirmwareReason::NotZip, ""};
  }
  ArchiveHandle archive(opened);
  FirmwareResult result = read_package(archive.get(), image, expected);
  if (!result.ok()) {
    image->data.clear();
    expected->reset();
  }
  return result;
}

FirmwareResult read_firmware_package(FirmwareImage* image, std::optional<FirmwareDigest>* expected) {
  image->data.clear();
  expected->reset();
  // Far beyond any real package (the image plus a little zip and AES framing);
  // keeps a wrongly chosen disc image out of memory.
  constexpr uint64_t PACKAGE_LIMIT = 2 * FIRMWARE_MAX_SIZE;
  std::vector<uint8_t> file;
  std::string note;
  switch (read_whole_file(image->path, PACKAGE_LIMIT, &file, &note)) {
    case FileRead::NoMemory:
      return {FirmwareReason::NoMemory, ""};
    case FileRead::TooLarge:
      return {FirmwareReason::FileTooLarge, too_large_note("file", PACKAGE_LIMIT)};
    case FileRead::Unreadable:
      return {FirmwareReason::NotZip, note};  // an unreadable file is an empty one: no zip
    case FileRead::Complete:
      break;
  }
  return read_firmware_package_bytes(file.data(), file.size(), image, expected);
}

FirmwareResult read_firmware_raw(FirmwareImage* image) {
  image->data.clear();
  std::string note;
  FirmwareResult result;
  switch (read_whole_file(image->path, FIRMWARE_MAX_SIZE, &image->data, &note)) {
    case FileRead::Complete:
      return result;
    case FileRead::NoMemory:
      result = {FirmwareReason::NoMemory, ""};
      break;
    case FileRead::TooLarge:
      result = {FirmwareReason::ImageTooLarge, too_large_note("image", FIRMWARE_MAX_SIZE)};
      break;
    case FileRead::Unreadable:
      result = {FirmwareReason::Unreadable, note};
      break;
  }
  image->data.clear();  // never an image from a partial read
  return result;
}
