// The registry behaviour suite against the real registry through advapi32, under Wine.
//
// Fixture keys are built and removed with advapi32 calls of their own, below the suite's
// private key, one key at a time relative to its parent: full paths given to the ANSI calls
// fail past 260 characters, and the suite needs names up to 256 characters long.
#include <windows.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "owned_key.h"
#include "platform/win32_registry.h"
#include "tests/common/registry_behaviour.h"

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::istringstream in(path);
  for (std::string part; std::getline(in, part, '\\');) parts.push_back(part);
  return parts;
}

class RealRegistry final : public RegistryUnderTest {
 public:
  RegistryOperations& Operations() override { return registry_; }

  void CreateKey(const std::string& path) override { Create(path); }

  void SetValue(const std::string& path, const std::string& name, std::uint32_t type,
                const std::vector<std::uint8_t>& data) override {
    const OwnedKey key = Create(path);
    if (key.Get() == nullptr) return;
    // RegSetValueExA adds a missing string terminator when the byte after the given data is
    // zero. A non-zero byte there stores the data exactly as given.
    std::vector<BYTE> bytes(data.begin(), data.end());
    bytes.push_back(0xCC);
    const LSTATUS status = RegSetValueExA(key.Get(), name.c_str(), 0, type, bytes.data(),
                                          static_cast<DWORD>(data.size()));
    if (status != ERROR_SUCCESS) {
      ADD_FAILURE() << "RegSetValueExA(" << path << ", " << name << ") = " << status;
    }
  }

  void DeleteTree(const std::string& path) override {
    const std::size_t cut = path.rfind('\\');
    const std::string parentPath = path.substr(0, cut);
    HKEY parent = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, KEY_ALL_ACCESS, &parent) !=
        ERROR_SUCCESS) {
      return;
    }
    const OwnedKey owned(parent);
    DeleteBelow(parent, path.substr(cut + 1));
  }

  // The real registry keeps no account this process can read.
  [[nodiscard]] std::optional<std::size_t> OpenHandleCount() const override { return std::nullopt; }

 private:
  static OwnedKey Create(const std::string& path) {
    OwnedKey key;
    HKEY parent = HKEY_LOCAL_MACHINE;
    for (const std::string& part : Components(path)) {
      HKEY child = nullptr;
      const LSTATUS status = RegCreateKeyExA(parent, part.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &child, nullptr);
      if (status != ERROR_SUCCESS) {
        ADD_FAILURE() << "RegCreateKeyExA(" << path << ") = " << status << " at " << part;
        return OwnedKey();
      }
      key = OwnedKey(child);
      parent = child;
    }
    return key;
  }

  // Deletes the subkey `name` of `parent` with everything below it; false if that failed.
  // Only for fixture trees, which hold no links: below a link this would empty its target.
  static bool DeleteBelow(HKEY parent, const std::string& name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) {
      return false;
    }
    {
      const OwnedKey key(opened);
      char child[1024];
      DWORD size = sizeof child;
      while (RegEnumKeyExA(key.Get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr) ==
             ERROR_SUCCESS) {
        if (!DeleteBelow(key.Get(), child)) return false;
        size = sizeof child;
      }
    }
    const LSTATUS status = RegDeleteKeyA(parent, name.c_str());
    if (status != ERROR_SUCCESS) ADD_FAILURE() << "RegDeleteKeyA(" << name << ") = " << status;
    return status == ERROR_SUCCESS;
  }

  Win32Registry registry_;
};

INSTANTIATE_TEST_SUITE_P(Advapi32, RegistryBehaviour,
                         ::testing::Values(RegistryKind{
                             "Advapi32", [] { return std::make_unique<RealRegistry>(); }}),
                         RegistryKindName);

}  // namespace
