#include "cache/key_digest.h"

#include <array>

#include <openssl/evp.h>

namespace lumbra {

std::string DigestOf(KeyDigest kind, std::string_view data) {
  // Each algorithm is fetched once for the whole run: EVP_sha1() and its kin are looked up
  // again for every digest made with them, most of the time of a key's digest.
  static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
  const EVP_MD* type = kind == KeyDigest::Sha1 ? sha1 : sha256;
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (type == nullptr ||
      EVP_Digest(data.data(), data.size(), digest.data(), &size, type, nullptr) != 1) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(digest.data()), size);
}

}  // namespace lumbra
