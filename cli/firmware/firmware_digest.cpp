#include <openssl/evp.h>

#include "firmware/firmware.h"

FirmwareDigest firmware_digest(const uint8_t* data, std::size_t size) {
  FirmwareDigest digest{};
  unsigned int length = 0;
  static const uint8_t nothing = 0;  // EVP wants a pointer even for no bytes
  EVP_Digest(size ? data : &nothing, size, digest.data(), &length, EVP_sha256(), nullptr);
  return digest;
}
