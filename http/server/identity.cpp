#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "http_server.h"

namespace httpserver {

std::string identity_answer(const std::string& key, const std::string& challenge) {
  if (key.empty() || challenge.size() < 16 || challenge.size() > 128 ||
      challenge.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char*>(challenge.data()), challenge.size(), digest, &length))
    return {};
  static constexpr char hex[] = "0123456789abcdef";
  std::string answer;
  for (unsigned int i = 0; i < length; ++i) {
    answer += hex[digest[i] >> 4];
    answer += hex[digest[i] & 0x0F];
  }
  return answer;
}

}  // namespace httpserver
