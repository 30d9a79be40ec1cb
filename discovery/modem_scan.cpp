#include "discovery/modem_scan.h"

#include <cstring>

namespace {

// Upper-cases ASCII letters in place. Every name and letter the recognition decides on is
// ASCII, so bytes above 0x7F are left as they are: they cannot make a name or prefix match,
// and leaving them alone never splits a multibyte character of the system code page.
void UpperCaseAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

// The bytes of a value's data up to its first zero byte, never more than were returned.
std::string_view DataAsText(const std::uint8_t* data, std::uint32_t size) {
  const auto* text = reinterpret_cast<const char*>(data);
  const void* zero = std::memchr(text, 0, size);
  return {text, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : size};
}

}  // namespace

void ModemScanner::ScanModemSettings() {
  if (!inventory_.HasLists()) return;
  for (const char* root : kControlSetRoots) WalkKey(root);
}

void ModemScanner::WalkKey(std::string_view path) {
  std::string walkPath;
  try {
    walkPath = path;
  } catch (...) {
    return;  // not even the path could be copied: nothing was opened
  }
  keysLeft_ = maxKeysPerRoot_;
  Walk(walkPath, 0);
}

void ModemScanner::Walk(std::string& path, int depth) {
  if (keysLeft_ == 0) return;
  --keysLeft_;
  RegKey key(registry_);
  try {
    if (key.Open(path.c_str()) != regstatus::kSuccess) return;

    RegKeyInfo info;
    if (registry_.QueryKey(key.Get(), &info) != regstatus::kSuccess) return;

    if (info.maxSubKeyNameLength < kRegBufferSize && depth < kMaxWalkDepth) {
      const std::size_t parentLength = path.size();
      for (std::uint32_t index = 0; index < info.subKeyCount; ++index) {
        std::uint32_t nameSize = kRegBufferSize;
        if (registry_.EnumSubkey(key.Get(), index, name_, &nameSize) != regstatus::kSuccess) break;
        // A path ends at its first zero byte, so a name holding one cannot be opened by its
        // path: it would spell another key (the parent itself, for a name that starts with a
        // zero byte, which would then be walked again at every level). Such a subkey is passed
        // over like one that cannot be opened.
        if (std::strlen(name_) != nameSize) continue;
        // The child's name is copied out of the shared buffer before the walk goes deeper.
        path += '\\';
        path.append(name_, nameSize);
        Walk(path, depth + 1);
        path.resize(parentLength);
      }
    }

    if (info.valueCount > 0) InspectKeyValues(path);
  } catch (...) {
    // Out of memory while this key is open: the key is closed (by its owner) and its walk
    // ends here; the caller goes on with its next subkey.
  }
}

void ModemScanner::InspectKeyValues(const std::string& path) {
  bool toneSeen = false;
  bool pulseSeen = false;
  bool prefixValid = false;
  std::string prefix;

  RegKey key(registry_);
  try {
    if (key.Open(path.c_str()) != regstatus::kSuccess) return;

    RegKeyInfo info;
    if (registry_.QueryKey(key.Get(), &info) != regstatus::kSuccess) return;
    if (info.maxValueNameLength >= kRegBufferSize || info.maxValueDataLength >= kRegBufferSize) {
      return;
    }

    std::uint8_t data[kRegBufferSize];
    std::string name;
    for (std::uint32_t index = 0; index < info.valueCount; ++index) {
      std::uint32_t nameSize = kRegBufferSize;
      std::uint32_t dataSize = kRegBufferSize;
      std::uint32_t type = 0;
      if (registry_.EnumValue(key.Get(), index, name_, &nameSize, &type, data, &dataSize) !=
          regstatus::kSuccess) {
        break;
      }
      // The whole name as enumerated: one holding a zero byte ("DialPrefix\0x") is another
      // value than the name before its zero, and must not pass for it.
      name.assign(name_, nameSize < kRegBufferSize ? nameSize : kRegBufferSize - 1);
      UpperCaseAscii(name);
      if (name == "TONE") {
        toneSeen = true;
      } else if (name == "PULSE") {
        pulseSeen = true;
      } else if (name == "DIALPREFIX") {
        prefix.assign(DataAsText(data, dataSize < kRegBufferSize ? dataSize : kRegBufferSize));
        UpperCaseAscii(prefix);
        prefixValid = prefix == kNormalPrefix || prefix == kSecurePrefix;
      }
    }

    if (toneSeen && pulseSeen && prefixValid) inventory_.Record(path, prefix);
  } catch (...) {
    // Out of memory while this key is open: the key is closed and nothing of it is recorded.
  }
}
