// Names the application takes from its executable's path: the application name (the file's base
// name) and the help file (the same path with the extension ".HLP").
//
// Portable (no Windows header), so the path handling is tested on every build. Only the file-name
// part of a path is ever changed: a dot in a folder name is not an extension.
#pragma once

#include <string>
#include <string_view>

namespace fw {

// The file-name part of `path`: what follows its last '\\', '/' or drive colon.
[[nodiscard]] constexpr std::string_view FileNamePart(std::string_view path) noexcept {
  const std::size_t separator = path.find_last_of("\\/:");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// The file name of `path` without its extension (from the last dot of the file name on).
[[nodiscard]] constexpr std::string_view BaseNamePart(std::string_view path) noexcept {
  const std::string_view name = FileNamePart(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

// `path` with the extension of its file name replaced by `extension` (which starts with its
// dot), or with `extension` appended when the file name has none.
[[nodiscard]] inline std::string WithExtension(std::string_view path, std::string_view extension) {
  const std::string_view name = FileNamePart(path);
  const std::size_t dot = name.rfind('.');
  const std::size_t keep =
      dot == std::string_view::npos ? path.size() : path.size() - name.size() + dot;
  std::string result(path.substr(0, keep));
  result.append(extension);
  return result;
}

}  // namespace fw
