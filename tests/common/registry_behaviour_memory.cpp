// The registry behaviour suite against the in-memory registry, in every build.
#include <memory>

#include "platform/memory_registry.h"
#include "tests/common/registry_behaviour.h"

namespace {

class InMemoryRegistry final : public RegistryUnderTest {
 public:
  RegistryOperations& Operations() override { return registry_; }
  void CreateKey(const std::string& path) override { registry_.CreateKey(path); }
  void SetValue(const std::string& path, const std::string& name, std::uint32_t type,
                const std::vector<std::uint8_t>& data) override {
    registry_.SetValue(path, name, type, data);
  }
  void DeleteTree(const std::string& path) override { registry_.DeleteKey(path); }
  [[nodiscard]] std::optional<std::size_t> OpenHandleCount() const override {
    return registry_.OpenHandleCount();
  }

 private:
  MemoryRegistry registry_;
};

INSTANTIATE_TEST_SUITE_P(InMemory, RegistryBehaviour,
                         ::testing::Values(RegistryKind{
                             "InMemory", [] { return std::make_unique<InMemoryRegistry>(); }}),
                         RegistryKindName);

}  // namespace
