// Replacing a small file whole: the file at a path may be the user's only copy, so it is
// replaced only by a complete, checked new version.
#pragma once

#include <string>

// Writes `content` as the file at `path`: into a new file in the same folder, flushed to disk
// and read back, then renamed over `path` (which need not exist). Returns "" on success,
// otherwise one line saying what failed; the file at `path` is then as it was and the new
// file is gone.
std::string ReplaceFileWith(const std::string& path, const std::string& content);
