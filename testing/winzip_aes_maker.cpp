#include "testing/winzip_aes_maker.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>


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
