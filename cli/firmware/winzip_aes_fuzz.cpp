// Fuzzes the WinZip AES entry reader with arbitrary extra-field values and
// entry bytes. Input: mode (1 byte), vendor version (1), strength (1),
// method (2), declared size (4), CRC-32 (4), then the entry. With bit 0 of
// the mode the entry bytes are first encrypted correctly, so that mutation
// reaches the decoders behind the authentication code.
#include <algorithm>
#include <vector>

#include "firmware/winzip_aes.h"
#include "testing/winzip_aes_maker.h"
#include "util/bytes.h"

namespace {

constexpr const char* PASSWORD = "5e0a7c91d2b84f36a1c9e07b3d58f2a6c4e19b70";
constexpr uint64_t LIMIT = 1 << 20;  // keeps each run small
constexpr std::size_t FIELDS = 13;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < FIELDS) return 0;
  const bool encrypt = data[0] & 1;
  AesEntryInfo info;
  info.vendor_version = data[1];
  info.strength = encrypt ? static_cast<uint8_t>(1 + data[2] % 3) : data[2];
  info.method = get_le16(data, 3);
  info.size = get_le32(data, 5);
  info.crc32 = get_le32(data, 9);
  std::vector<uint8_t> entry(data + FIELDS, data + size);
  if (encrypt) entry = make_aes_entry(entry, info.strength, PASSWORD);

  std::vector<uint8_t> plain;
  const AesEntryError result = read_aes_entry(entry.data(), entry.size(), info, PASSWORD, LIMIT, &plain);
  if (result == AesEntryError::None && plain.size() != info.size) __builtin_trap();
  if (result != AesEntryError::None && !plain.empty()) __builtin_trap();
  if (encrypt && result == AesEntryError::WrongPassword) __builtin_trap();
  // A correctly encrypted stored entry of the declared size always comes back as it went in.
  const bool whole_stored = encrypt && info.method == 0 && info.vendor_version == 2 && info.size == size - FIELDS;
  if (whole_stored && (result != AesEntryError::None || !std::equal(plain.begin(), plain.end(), data + FIELDS)))
    __builtin_trap();
  return 0;
}
