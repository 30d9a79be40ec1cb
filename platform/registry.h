// The registry operations that the modem logic calls, and nothing more.
//
// Every key is opened below HKEY_LOCAL_MACHINE by its full path with full access, used and
// closed within one operation of the caller. Status codes carry the Win32 values so that both
// implementations (advapi32 and the in-memory registry) report the same numbers. None of these
// operations throws.
#pragma once

#include <cstdint>
#include <utility>

using RegStatus = std::int32_t;

// Win32 status values, under names that do not collide with the <winerror.h> macros.
namespace regstatus {
inline constexpr RegStatus kSuccess = 0;
inline constexpr RegStatus kFileNotFound = 2;
inline constexpr RegStatus kAccessDenied = 5;
inline constexpr RegStatus kInvalidHandle = 6;
inline constexpr RegStatus kOutOfMemory = 14;
inline constexpr RegStatus kGenFailure = 31;
inline constexpr RegStatus kInvalidParameter = 87;
inline constexpr RegStatus kMoreData = 234;
inline constexpr RegStatus kNoMoreItems = 259;
// Given by the registries that stand in for the real one, in the cases the real one gives them;
// the logic never tells them apart from other failures.
inline constexpr RegStatus kBadPathname = 161;  // a key path that starts with a backslash
inline constexpr RegStatus kKeyDeleted = 1018;  // the key behind the handle was deleted
}  // namespace regstatus

// Registry value types, with the Win32 numbers.
namespace regtype {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kSz = 1;
inline constexpr std::uint32_t kExpandSz = 2;
inline constexpr std::uint32_t kBinary = 3;
inline constexpr std::uint32_t kDword = 4;
inline constexpr std::uint32_t kLink = 6;
inline constexpr std::uint32_t kMultiSz = 7;
inline constexpr std::uint32_t kQword = 11;
}  // namespace regtype

// Size of every name buffer and data buffer handed to an enumeration, in bytes.
inline constexpr std::uint32_t kRegBufferSize = 512;

// Opaque key handle; only the implementation that issued it interprets it.
using RegKeyHandle = void*;

// The five numbers the logic asks of a key. Name lengths are in characters without the
// terminating zero; the data length is in bytes as the registry stores the data.
struct RegKeyInfo {
  std::uint32_t subKeyCount = 0;
  std::uint32_t maxSubKeyNameLength = 0;
  std::uint32_t valueCount = 0;
  std::uint32_t maxValueNameLength = 0;
  std::uint32_t maxValueDataLength = 0;
};

class RegistryOperations {
 public:
  virtual ~RegistryOperations() = default;

  // Opens HKEY_LOCAL_MACHINE\<path> with options 0 and KEY_ALL_ACCESS.
  // On success *key receives the handle; on failure it is left untouched.
  virtual RegStatus OpenKey(const char* path, RegKeyHandle* key) = 0;

  // Reads the key's subkey and value counts and its longest name and data lengths.
  virtual RegStatus QueryKey(RegKeyHandle key, RegKeyInfo* info) = 0;

  // Names the subkey at `index`. *nameSize is the buffer's size in bytes on entry and the
  // name's length without its terminator on success. A name that does not fit fails.
  virtual RegStatus EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                               std::uint32_t* nameSize) = 0;

  // Reads the value at `index`: its name (sizes as for EnumSubkey), its type and its data.
  // *dataSize is the data buffer's size on entry and the number of bytes returned on success.
  // A name or data item that does not fit fails with regstatus::kMoreData.
  virtual RegStatus EnumValue(RegKeyHandle key, std::uint32_t index, char* name,
                              std::uint32_t* nameSize, std::uint32_t* type, std::uint8_t* data,
                              std::uint32_t* dataSize) = 0;

  // Creates or replaces the named value as a string (type REG_SZ), storing the text and its
  // terminating zero. Value names match without regard to case; a replaced value keeps the
  // spelling it was stored with.
  virtual RegStatus SetStringValue(RegKeyHandle key, const char* name, const char* text) = 0;

  // Releases the handle.
  virtual RegStatus CloseKey(RegKeyHandle key) = 0;
};

// Owns one open key: closes it when it goes out of scope, on every path. Move-only.
class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(RegistryOperations& registry) : registry_(&registry) {}
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept
      : registry_(other.registry_), handle_(std::exchange(other.handle_, nullptr)) {}
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) {
      Reset();
      registry_ = other.registry_;
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~RegKey() { Reset(); }

  // Opens HKEY_LOCAL_MACHINE\<path> with full access, closing any key held before.
  [[nodiscard]] RegStatus Open(const char* path) {
    Reset();
    RegKeyHandle opened = nullptr;
    const RegStatus status = registry_->OpenKey(path, &opened);
    if (status == regstatus::kSuccess) handle_ = opened;
    return status;
  }

  // Closes the key now, if one is held.
  void Reset() noexcept {
    if (handle_ != nullptr) registry_->CloseKey(std::exchange(handle_, nullptr));
  }

  [[nodiscard]] bool IsOpen() const { return handle_ != nullptr; }
  [[nodiscard]] RegKeyHandle Get() const { return handle_; }
  [[nodiscard]] RegistryOperations& Registry() const { return *registry_; }

 private:
  RegistryOperations* registry_ = nullptr;
  RegKeyHandle handle_ = nullptr;
};
