// One set of behaviour checks of the six registry operations, run against every registry the
// tool can be given: the in-memory registry in every build, and under Wine also advapi32's real
// registry, so the in-memory stand-in cannot drift from the real thing.
//
// Each registry takes part through a RegistryUnderTest, which builds the fixture keys with the
// registry's own means (not through the six operations, which cannot create keys) and removes
// them afterwards. A file per registry instantiates the suite for it.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/registry.h"

// A registry under test, and the means to build fixture keys in it.
class RegistryUnderTest {
 public:
  virtual ~RegistryUnderTest() = default;

  // The six operations under test.
  virtual RegistryOperations& Operations() = 0;

  // Creates HKEY_LOCAL_MACHINE\<path> and every missing key above it. Each component is created
  // below its parent, so names and paths may be longer than a full-path open accepts.
  virtual void CreateKey(const std::string& path) = 0;

  // Stores a value with exactly these bytes, creating the key if needed: string data given
  // without a terminating zero is stored without one.
  virtual void SetValue(const std::string& path, const std::string& name, std::uint32_t type,
                        const std::vector<std::uint8_t>& data) = 0;

  // Removes the key and everything below it, if it exists. Fixture trees hold no links.
  virtual void DeleteTree(const std::string& path) = 0;

  // Handles issued by Operations() and not yet closed, where the registry keeps that account.
  [[nodiscard]] virtual std::optional<std::size_t> OpenHandleCount() const = 0;
};

// One registry the suite runs against: its name in the test names, and how to make it.
struct RegistryKind {
  std::string name;
  std::function<std::unique_ptr<RegistryUnderTest>()> make;
};

inline void PrintTo(const RegistryKind& kind, std::ostream* out) { *out << kind.name; }

// Names each test after its registry: RegistryBehaviour.<test>/<registry>.
inline std::string RegistryKindName(const ::testing::TestParamInfo<RegistryKind>& info) {
  return info.param.name;
}

// Every test gets a key of its own, kRegistryBehaviourRoot\<registry>\<test>, built empty
// before the test and removed after it.
inline constexpr const char* kRegistryBehaviourRoot =
    "SYSTEM\\ControlSet009\\RegistryBehaviourTest";

class RegistryBehaviour : public ::testing::TestWithParam<RegistryKind> {
 protected:
  void SetUp() override;
  void TearDown() override;

  RegistryOperations& Ops() { return registry_->Operations(); }
  RegistryUnderTest& Fixture() { return *registry_; }

  // This test's own key, and a path below it.
  const std::string& Root() const { return root_; }
  std::string Below(const std::string& relative) const { return root_ + "\\" + relative; }

  std::unique_ptr<RegistryUnderTest> registry_;
  std::string root_;
};
