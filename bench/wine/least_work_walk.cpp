#include "bench/wine/least_work_walk.h"

#include <cstring>
#include <utility>

#include "discovery/modem_scan.h"

namespace {

// True when `name` is `upper` with its ASCII letters in either case.
bool NameIs(const char* name, const char* upper) {
  for (; *upper != '\0'; ++name, ++upper) {
    const char c = (*name >= 'a' && *name <= 'z') ? static_cast<char>(*name - 'a' + 'A') : *name;
    if (c != *upper) return false;
  }
  return *name == '\0';
}

// The dial prefix in `data` as the scan reads it (text up to the first zero byte, ASCII letters
// upper-cased): "D" or "A", or nullptr when it is neither.
const char* PrefixOf(const BYTE* data, DWORD size) {
  const void* zero = std::memchr(data, 0, size);
  const std::size_t length = zero ? static_cast<const BYTE*>(zero) - data : size;
  if (length != 1) return nullptr;
  switch (data[0]) {
    case 'D':
    case 'd':
      return kNormalPrefix;
    case 'A':
    case 'a':
      return kSecurePrefix;
    default:
      return nullptr;
  }
}

}  // namespace

LeastWorkWalk::LeastWorkWalk() : path_((kMaxWalkDepth + 2) * (kRegBufferSize + 1)) {}

std::vector<ModemRecord> LeastWorkWalk::Run() {
  found_.clear();
  keysPerRoot_.clear();
  counts_ = {};
  for (const char* root : kControlSetRoots) {
    keys_ = 0;
    HKEY key = nullptr;
    ++counts_.open;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, root, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      const std::size_t length = std::strlen(root);
      std::memcpy(path_.data(), root, length + 1);
      Walk(key, length, 0);
    }
    keysPerRoot_.push_back(keys_);
  }
  return std::move(found_);
}

void LeastWorkWalk::Walk(HKEY key, std::size_t length, int depth) {
  ++keys_;
  DWORD subKeys = 0, maxSubKeyLen = 0, values = 0, maxValueNameLen = 0, maxValueLen = 0;
  ++counts_.query;
  if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKeyLen, nullptr, &values,
                         &maxValueNameLen, &maxValueLen, nullptr, nullptr) == ERROR_SUCCESS) {
    if (maxSubKeyLen < kRegBufferSize && depth < kMaxWalkDepth) {
      for (DWORD index = 0; index < subKeys; ++index) {
        DWORD size = kRegBufferSize;
        ++counts_.enumSubkey;
        if (::RegEnumKeyExA(key, index, name_, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
          break;
        }
        if (std::strlen(name_) != size) continue;  // the scan passes such a name over
        HKEY child = nullptr;
        ++counts_.open;
        if (::RegOpenKeyExA(key, name_, 0, KEY_ALL_ACCESS, &child) != ERROR_SUCCESS) continue;
        path_[length] = '\\';
        std::memcpy(&path_[length + 1], name_, size + 1);
        Walk(child, length + 1 + size, depth + 1);
        path_[length] = '\0';
      }
    }
    if (values > 0 && maxValueNameLen < kRegBufferSize && maxValueLen < kRegBufferSize) {
      Inspect(key, values, length);
    }
  }
  ++counts_.close;
  ::RegCloseKey(key);
}

void LeastWorkWalk::Inspect(HKEY key, DWORD valueCount, std::size_t length) {
  bool tone = false, pulse = false;
  const char* prefix = nullptr;
  for (DWORD index = 0; index < valueCount; ++index) {
    DWORD nameSize = kRegBufferSize, type = 0, dataSize = kRegBufferSize;
    ++counts_.enumValue;
    if (::RegEnumValueA(key, index, name_, &nameSize, nullptr, &type, data_, &dataSize) !=
        ERROR_SUCCESS) {
      break;
    }
    if (NameIs(name_, "TONE")) {
      tone = true;
    } else if (NameIs(name_, "PULSE")) {
      pulse = true;
    } else if (NameIs(name_, "DIALPREFIX")) {
      prefix = PrefixOf(data_, dataSize < kRegBufferSize ? dataSize : kRegBufferSize);
    }
  }
  if (tone && pulse && prefix != nullptr) {
    found_.push_back({std::string(path_.data(), length), prefix});
  }
}
