#pragma once

#include <string>
#include <string_view>

namespace lumbra {

// The digests by which today's caches name the files of their keys and check the keys.
enum class KeyDigest { Sha1, Sha256 };

// The digest of `data`; empty when it cannot be made.
std::string DigestOf(KeyDigest kind, std::string_view data);

}  // namespace lumbra
