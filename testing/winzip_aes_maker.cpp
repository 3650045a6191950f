#include "testing/winzip_aes_maker.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "util/bytes.h"

std::vector<uint8_t> make_aes_entry(const std::vector<uint8_t>& data, uint8_t strength, std::string_view password,
                                    uint32_t seed) {
  const std::size_t key_bytes = 8u + 8u * strength;
  std::vector<uint8_t> entry(key_bytes / 2);
  for (uint8_t& byte : entry) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  std::vector<uint8_t> keys(2 * key_bytes + 2);
  PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), entry.data(),
                         static_cast<int>(entry.size()), 1000, static_cast<int>(keys.size()), keys.data());
  entry.insert(entry.end(), keys.end() - 2, keys.end());
  const std::size_t start = entry.size();

  const EVP_CIPHER* cipher = strength == 1 ? EVP_aes_128_ecb() : strength == 2 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(context, cipher, nullptr, keys.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(context, 0);
  uint8_t counter[16] = {};
  uint8_t stream[16];
  for (std::size_t offset = 0; offset < data.size(); offset += 16) {
    // Little-endian counter from 1, carried through all 16 bytes.
    for (std::size_t i = 0; i < 16 && ++counter[i] == 0; ++i) {
    }
    int written = 0;
    EVP_EncryptUpdate(context, stream, &written, counter, 16);
    for (std::size_t i = 0; i < 16 && offset + i < data.size(); ++i) entry.push_back(data[offset + i] ^ stream[i]);
  }
  EVP_CIPHER_CTX_free(context);

  uint8_t code[20];
  unsigned int code_size = 0;
  HMAC(EVP_sha1(), keys.data() + key_bytes, static_cast<int>(key_bytes), entry.data() + start, entry.size() - start,
       code, &code_size);
  entry.insert(entry.end(), code, code + 10);
  return entry;
}

namespace {

constexpr uint16_t AES_METHOD = 99;  // the method of every WinZip AES entry; the real one is in its extra field
constexpr std::size_t AES_EXTRA = 11;

void append_le16(std::vector<uint8_t>* out, uint16_t value) {
  out->resize(out->size() + 2);
  put_le16(out->data(), out->size() - 2, value);
}
void append_le32(std::vector<uint8_t>* out, uint32_t value) {
  out->resize(out->size() + 4);
  put_le32(out->data(), out->size() - 4, value);
}

// The fields a local header and its central directory record share, from the
// version needed to the extra field's length (AE-2: CRC 0, strength 3).
void append_common(std::vector<uint8_t>* out, const AesZipEntry& entry, std::size_t raw_size) {
  append_le16(out, 51);  // version needed for AES
  append_le16(out, 1);   // encrypted
  append_le16(out, AES_METHOD);
  append_le32(out, 0);  // time and date
  append_le32(out, 0);
  append_le32(out, static_cast<uint32_t>(raw_size));
  append_le32(out, static_cast<uint32_t>(entry.size));
  append_le16(out, static_cast<uint16_t>(entry.name.size()));
  append_le16(out, AES_EXTRA);
}

void append_name_and_extra(std::vector<uint8_t>* out, const AesZipEntry& entry) {
  out->insert(out->end(), entry.name.begin(), entry.name.end());
  append_le16(out, 0x9901);
  append_le16(out, 7);
  append_le16(out, 2);  // AE-2
  out->push_back('A');
  out->push_back('E');
  out->push_back(3);  // AES-256
  append_le16(out, entry.method);
}

}  // namespace

std::vector<uint8_t> make_aes_zip(const std::vector<AesZipEntry>& entries, std::string_view password) {
  std::vector<uint8_t> zip;
  std::vector<uint8_t> directory;
  uint32_t seed = 1;
  for (const AesZipEntry& entry : entries) {
    const std::vector<uint8_t> raw = make_aes_entry(entry.compressed, 3, password, seed++);
    const auto offset = static_cast<uint32_t>(zip.size());
    append_le32(&zip, 0x04034b50);
    append_common(&zip, entry, raw.size());
    append_name_and_extra(&zip, entry);
    zip.insert(zip.end(), raw.begin(), raw.end());

    append_le32(&directory, 0x02014b50);
    append_le16(&directory, 51);  // made by
    append_common(&directory, entry, raw.size());
    append_le16(&directory, 0);  // comment length
    append_le16(&directory, 0);  // disk
    append_le16(&directory, 0);  // internal attributes
    append_le32(&directory, 0);  // external attributes
    append_le32(&directory, offset);
    append_name_and_extra(&directory, entry);
  }
  const auto directory_offset = static_cast<uint32_t>(zip.size());
  zip.insert(zip.end(), directory.begin(), directory.end());
  append_le32(&zip, 0x06054b50);
  append_le32(&zip, 0);  // disk numbers
  append_le16(&zip, static_cast<uint16_t>(entries.size()));
  append_le16(&zip, static_cast<uint16_t>(entries.size()));
  append_le32(&zip, static_cast<uint32_t>(directory.size()));
  append_le32(&zip, directory_offset);
  append_le16(&zip, 0);  // comment length
  return zip;
}
