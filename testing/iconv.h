// The C library's own conversion of a text, which the tests compare the system's conversions
// with.
#pragma once

#include <iconv.h>

#include <string>

namespace lumbra::testing {

// `in` converted from the encoding `from` to `to` by iconv (state flushed); empty when it
// cannot be converted.
inline std::string Iconv(const char* from, const char* to, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  if (rc != static_cast<std::size_t>(-1)) rc = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return {};
  out.resize(out.size() - dstLeft);
  return out;
}

}  // namespace lumbra::testing
