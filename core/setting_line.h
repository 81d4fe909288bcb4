// The line a message adds after the system's own text when it concerns a path: which
// setting, which path and, when a system call failed, the system's reason.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace lumbra {

// "\rSETTING: path", with ": " and strerror(error) after it when `error` is not 0. The "\r"
// puts it on a line of its own; the values come last, so the system's text stays whole.
inline std::string SettingLine(std::string_view setting, std::string_view path, int error = 0) {
  std::string line = "\r" + std::string(setting) + ": " + std::string(path);
  if (error != 0) line += std::string(": ") + std::strerror(error);
  return line;
}

}  // namespace lumbra
