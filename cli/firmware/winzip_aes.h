// Our own reader of WinZip AES (AE-1, AE-2) zip entries: key derivation and
// password check, AES-CTR decryption with the authentication code checked,
// then decompression by the entry's own method. libzip only finds the entry
// and hands over its raw bytes.
#pragma once

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// What the zip entry says about itself: the WinZip AES extra field (0x9901)
// and the central directory's CRC-32 and uncompressed size.
struct AesEntryInfo {
  uint16_t vendor_version = 2;  // 1: AE-1, the CRC-32 is checked; 2: AE-2, it is not
  uint8_t strength = 3;         // 1, 2, 3: AES-128, AES-192, AES-256
  uint16_t method = 0;          // the actual compression method
  uint32_t crc32 = 0;
  uint64_t size = 0;  // uncompressed
};

enum class AesEntryError {
  None,
  WrongPassword,      // the password verification value differs
  Damaged,            // authentication code, AE-1 CRC, size or compressed data wrong
  UnsupportedMethod,  // AesEntryInfo::method is none of the methods below
  TooLarge,           // the entry declares more bytes than the caller's limit
  NoMemory,
};

// Compression methods the reader decodes.
constexpr uint16_t ZIP_METHOD_STORED = 0;
constexpr uint16_t ZIP_METHOD_DEFLATE = 8;
constexpr uint16_t ZIP_METHOD_BZIP2 = 12;
constexpr uint16_t ZIP_METHOD_LZMA = 14;
constexpr uint16_t ZIP_METHOD_ZSTD = 93;

// Hands out the raw entry (salt, password verification value, encrypted
// data, authentication code) in order: up to `capacity` bytes into `buffer`,
// returning how many, 0 only at the end, negative on a read error.
using RawEntrySource = std::function<int64_t(uint8_t* buffer, std::size_t capacity)>;

// Decrypts and decodes the `count` raw bytes of an entry into *plain, piece
// by piece as they come from `source`. Nothing is kept in *plain unless the
// result is None. Peak memory is info.size + 1 bytes of output, a few small
// pieces and the decoder's own state (an LZMA dictionary no larger than the
// entry, a zstd window of at most 16 MiB).
AesEntryError read_aes_entry(const RawEntrySource& source, uint64_t count, const AesEntryInfo& info,
                             std::string_view password, uint64_t limit, std::vector<uint8_t>* plain);
// The same for a raw entry in memory.
AesEntryError read_aes_entry(const uint8_t* raw, std::size_t count, const AesEntryInfo& info,
                             std::string_view password, uint64_t limit, std::vector<uint8_t>* plain);

enum class EntryLookup { WinZipAes, NotWinZipAes, Unreadable };

// What the headers of entry `index` of `archive` say, and its raw size.
EntryLookup zip_aes_entry_info(zip_t* archive, zip_uint64_t index, AesEntryInfo* info, uint64_t* raw_size);

// Reads entry `index` of `archive` with our reader, its raw bytes streamed
// from libzip as stored. A raw entry that cannot be read is Damaged.
AesEntryError read_zip_aes_entry(zip_t* archive, zip_uint64_t index, const AesEntryInfo& info, uint64_t raw_size,
                                 std::string_view password, uint64_t limit, std::vector<uint8_t>* plain);
