// The registry behaviour suite against the hive registry: each test gets a hive file of its
// own, made from the minimal empty hive and opened for writing; the fixture keys are built with
// hivex through the registry's building calls.
#include <memory>

#include "platform/hive_registry.h"
#include "tests/common/hive_fixture.h"
#include "tests/common/registry_behaviour.h"

namespace {

class HiveFileRegistry final : public RegistryUnderTest {
 public:
  HiveFileRegistry() {
    WriteBytes(folder_.File("SYSTEM"), MinimalEmptyHive());
    hive_ = OpenHive(folder_.File("SYSTEM"), HiveAccess::kWrite);
  }
  RegistryOperations& Operations() override { return *hive_; }
  void CreateKey(const std::string& path) override { hive_->CreateKey(path); }
  void SetValue(const std::string& path, const std::string& name, std::uint32_t type,
                const std::vector<std::uint8_t>& data) override {
    hive_->SetValue(path, name, type, data);
  }
  void DeleteTree(const std::string& path) override { hive_->DeleteKey(path); }
  [[nodiscard]] std::optional<std::size_t> OpenHandleCount() const override {
    return hive_->OpenHandleCount();
  }

 private:
  TempFolder folder_;
  std::unique_ptr<HiveRegistry> hive_;
};

INSTANTIATE_TEST_SUITE_P(HiveFile, RegistryBehaviour,
                         ::testing::Values(RegistryKind{
                             "HiveFile", [] { return std::make_unique<HiveFileRegistry>(); }}),
                         RegistryKindName);

}  // namespace
