#include "firmware/winzip_aes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "firmware/entry_decoder.h"

namespace {

constexpr int KEY_ITERATIONS = 1000;
constexpr std::size_t VERIFIER_SIZE = 2;
constexpr std::size_t AUTH_CODE_SIZE = 10;  // HMAC-SHA1 cut to its first 10 bytes
constexpr std::size_t AES_BLOCK = 16;
// Decrypted and fed to the decoder piece by piece: large enough that one
// EVP call covers many blocks, small enough to stay in the cache.
constexpr std::size_t PIECE = 64 * 1024;

struct CipherFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct MacFree {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacContextFree {
  void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};

// Key length in bytes for strengths 1 to 3; the salt is half as long.
std::size_t key_size(uint8_t strength) { return strength >= 1 && strength <= 3 ? 8u + 8u * strength : 0; }

const EVP_CIPHER* ecb_cipher(uint8_t strength) {
  switch (strength) {
    case 1:
      return EVP_aes_128_ecb();
    case 2:
      return EVP_aes_192_ecb();
    default:
      return EVP_aes_256_ecb();
  }
}

// WinZip's AES-CTR: the counter starts at 1 and is stored little-endian in
// the first 8 bytes of the block (the rest stays 0). The counter blocks of a
// whole piece are encrypted in one ECB call and then XORed with the data.
struct CtrState {
  std::unique_ptr<EVP_CIPHER_CTX, CipherFree> cipher;
  uint64_t counter = 1;
  std::vector<uint8_t> stream;  // key stream of one piece
};

bool start_ctr(const uint8_t* key, uint8_t strength, CtrState* state) {
  state->cipher.reset(EVP_CIPHER_CTX_new());
  if (!state->cipher || EVP_EncryptInit_ex(state->cipher.get(), ecb_cipher(strength), nullptr, key, nullptr) != 1)
    return false;
  EVP_CIPHER_CTX_set_padding(state->cipher.get(), 0);
  state->stream.resize(PIECE);
  return true;
}

// Decrypts `count` (at most PIECE) bytes from `in` to `out`.
bool decrypt_piece(CtrState* state, const uint8_t* in, std::size_t count, uint8_t* out) {
  const std::size_t blocks = (count + AES_BLOCK - 1) / AES_BLOCK;
  uint8_t* stream = state->stream.data();
  std::memset(stream, 0, blocks * AES_BLOCK);
  for (std::size_t block = 0; block < blocks; ++block) {
    for (std::size_t i = 0; i < 8; ++i) stream[block * AES_BLOCK + i] = static_cast<uint8_t>(state->counter >> (8 * i));
    ++state->counter;
  }
  int written = 0;
  if (EVP_EncryptUpdate(state->cipher.get(), stream, &written, stream, static_cast<int>(blocks * AES_BLOCK)) != 1)
    return false;
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t data;
    uint64_t key;
    std::memcpy(&data, in + i, 8);
    std::memcpy(&key, stream + i, 8);
    data ^= key;
    std::memcpy(out + i, &data, 8);
  }
  for (; i < count; ++i) out[i] = in[i] ^ stream[i];
  return true;
}

std::unique_ptr<EVP_MAC_CTX, MacContextFree> start_hmac(const uint8_t* key, std::size_t size) {
  std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  if (!mac) return nullptr;
  std::unique_ptr<EVP_MAC_CTX, MacContextFree> context(EVP_MAC_CTX_new(mac.get()));
  char digest[] = "SHA1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  if (!context || EVP_MAC_init(context.get(), key, size, params) != 1) return nullptr;
  return context;
}

// Fills `count` bytes from the source; false when it ends early or fails.
bool read_exactly(const RawEntrySource& source, uint8_t* buffer, std::size_t count) {
  while (count > 0) {
    const int64_t got = source(buffer, count);
    if (got <= 0) return false;
    buffer += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

// Decrypts the `count` data bytes of the entry piece by piece, authenticating
// the ciphertext and handing the plain bytes to the decoder; then checks the
// authentication code that follows them.
AesEntryError decrypt_and_decode(const RawEntrySource& source, uint64_t count, const uint8_t* keys,
                                 std::size_t key_bytes, const AesEntryInfo& info, EntryDecoder* decoder,
                                 std::vector<uint8_t>* plain) {
  CtrState ctr;
  auto hmac = start_hmac(keys + key_bytes, key_bytes);
  if (!hmac || !start_ctr(keys, info.strength, &ctr)) return AesEntryError::NoMemory;
  std::vector<uint8_t> cipher(PIECE);
  std::vector<uint8_t> piece(PIECE);
  std::size_t produced = 0;
  uint64_t done = 0;
  do {
    const auto take = static_cast<std::size_t>(std::min<uint64_t>(PIECE, count - done));
    if (!read_exactly(source, cipher.data(), take)) return AesEntryError::Damaged;
    if (EVP_MAC_update(hmac.get(), cipher.data(), take) != 1 || !decrypt_piece(&ctr, cipher.data(), take, piece.data()))
      return AesEntryError::NoMemory;
    done += take;
    if (!feed_entry_decoder(decoder, piece.data(), take, done == count, plain->data(), plain->size(), &produced))
      return AesEntryError::Damaged;
  } while (done < count);

  std::array<uint8_t, EVP_MAX_MD_SIZE> code;
  std::size_t code_size = 0;
  uint8_t stored_code[AUTH_CODE_SIZE];
  if (EVP_MAC_final(hmac.get(), code.data(), &code_size, code.size()) != 1) return AesEntryError::NoMemory;
  if (!read_exactly(source, stored_code, AUTH_CODE_SIZE) ||
      CRYPTO_memcmp(code.data(), stored_code, AUTH_CODE_SIZE) != 0)
    return AesEntryError::Damaged;
  if (!decoder->finished || produced != info.size) return AesEntryError::Damaged;
  plain->resize(produced);
  if (info.vendor_version == 1 && crc32_z(0, plain->data(), plain->size()) != info.crc32)
    return AesEntryError::Damaged;
  return AesEntryError::None;
}

}  // namespace

AesEntryError read_aes_entry(const RawEntrySource& source, uint64_t count, const AesEntryInfo& info,
                             std::string_view password, uint64_t limit, std::vector<uint8_t>* plain) {
  plain->clear();
  const std::size_t key_bytes = key_size(info.strength);
  const std::size_t salt_bytes = key_bytes / 2;
  const std::size_t header = salt_bytes + VERIFIER_SIZE;
  if (key_bytes == 0 || (info.vendor_version != 1 && info.vendor_version != 2) || count < header + AUTH_CODE_SIZE)
    return AesEntryError::Damaged;
  if (info.size > limit) return AesEntryError::TooLarge;
  uint8_t salt_and_verifier[16 + VERIFIER_SIZE];
  if (!read_exactly(source, salt_and_verifier, header)) return AesEntryError::Damaged;

  // Derived in one run: the AES key, the HMAC key, the password verification value.
  std::array<uint8_t, 2 * 32 + VERIFIER_SIZE> keys;
  const std::size_t derived = 2 * key_bytes + VERIFIER_SIZE;
  if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt_and_verifier,
                             static_cast<int>(salt_bytes), KEY_ITERATIONS, static_cast<int>(derived),
                             keys.data()) != 1)
    return AesEntryError::NoMemory;
  if (std::memcmp(keys.data() + 2 * key_bytes, salt_and_verifier + salt_bytes, VERIFIER_SIZE) != 0)
    return AesEntryError::WrongPassword;
  if (!entry_method_supported(info.method)) return AesEntryError::UnsupportedMethod;

  EntryDecoder decoder;
  if (!open_entry_decoder(info.method, info.size, &decoder)) return AesEntryError::NoMemory;
  // One byte of room beyond the declared size, so that a longer output shows.
  try {
    plain->resize(static_cast<std::size_t>(info.size) + 1);
  } catch (const std::bad_alloc&) {
    return AesEntryError::NoMemory;
  }
  const AesEntryError result =
      decrypt_and_decode(source, count - header - AUTH_CODE_SIZE, keys.data(), key_bytes, info, &decoder, plain);
  OPENSSL_cleanse(keys.data(), keys.size());
  if (result != AesEntryError::None) plain->clear();
  return result;
}

AesEntryError read_aes_entry(const uint8_t* raw, std::size_t count, const AesEntryInfo& info,
                             std::string_view password, uint64_t limit, std::vector<uint8_t>* plain) {
  std::size_t offset = 0;
  const RawEntrySource memory = [&](uint8_t* buffer, std::size_t capacity) {
    const std::size_t taken = std::min(capacity, count - offset);
    std::memcpy(buffer, raw + offset, taken);
    offset += taken;
    return static_cast<int64_t>(taken);
  };
  return read_aes_entry(memory, count, info, password, limit, plain);
}

EntryLookup zip_aes_entry_info(zip_t* archive, zip_uint64_t index, AesEntryInfo* info, uint64_t* raw_size) {
  zip_stat_t stat;
  zip_stat_init(&stat);
  constexpr zip_uint64_t needed =
      ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC | ZIP_STAT_ENCRYPTION_METHOD;
  if (zip_stat_index(archive, index, 0, &stat) != 0 || (stat.valid & needed) != needed) return EntryLookup::Unreadable;
  switch (stat.encryption_method) {
    case ZIP_EM_AES_128:
      info->strength = 1;
      break;
    case ZIP_EM_AES_192:
      info->strength = 2;
      break;
    case ZIP_EM_AES_256:
      info->strength = 3;
      break;
    default:
      return EntryLookup::NotWinZipAes;
  }
  // libzip reads the 0x9901 field itself (strength, actual method) and does
  // not hand it out, so the vendor version is not at hand. AE-2 writers
  // store a CRC of 0; a CRC that is there is checked as AE-1 asks.
  info->vendor_version = stat.crc != 0 ? 1 : 2;
  info->method = stat.comp_method;
  info->crc32 = stat.crc;
  info->size = stat.size;
  *raw_size = stat.comp_size;
  return EntryLookup::WinZipAes;
}

AesEntryError read_zip_aes_entry(zip_t* archive, zip_uint64_t index, const AesEntryInfo& info, uint64_t raw_size,
                                 std::string_view password, uint64_t limit, std::vector<uint8_t>* plain) {
  plain->clear();
  std::unique_ptr<zip_file_t, decltype(&zip_fclose)> entry(
      zip_fopen_index(archive, index, ZIP_FL_ENCRYPTED | ZIP_FL_COMPRESSED), &zip_fclose);
  if (!entry) return AesEntryError::Damaged;
  const RawEntrySource stored = [&](uint8_t* buffer, std::size_t capacity) {
    return static_cast<int64_t>(zip_fread(entry.get(), buffer, capacity));
  };
  return read_aes_entry(stored, raw_size, info, password, limit, plain);
}
