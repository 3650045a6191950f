// Writes WinZip AES entries for the tests, the fuzz target and the benchmark:
// a plain implementation, one AES call per block, kept apart from the reader
// so that each checks the other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The raw entry (salt, password verification value, encrypted bytes,
// authentication code) of `data`, which is already compressed. The salt
// follows from `seed`. Strength 1 to 3.
std::vector<uint8_t> make_aes_entry(const std::vector<uint8_t>& data, uint8_t strength, std::string_view password,
                                    uint32_t seed = 1);

// One entry of a package written by make_aes_zip.
struct AesZipEntry {
  std::string name;
  uint16_t method = 0;              // the compression method the extra field names
  uint64_t size = 0;                // uncompressed
  std::vector<uint8_t> compressed;  // already in `method`
};

// A whole zip archive of AES-256 AE-2 entries, for methods libzip cannot
// write (zstd): local headers with the 0x9901 extra field, the central
// directory and its end record. Sizes below 4 GiB only.
std::vector<uint8_t> make_aes_zip(const std::vector<AesZipEntry>& entries, std::string_view password);
