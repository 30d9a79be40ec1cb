// The scan carrying on past trouble: an exception while a key is open ends the walk or the
// inspection of that key only, and a tree deeper than the walk's bound is cut there, in both
// cases with the next key, the next sibling or the next root walked as usual.
#include <functional>
#include <map>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "scan_fixture.h"
#include "tests/support/forwarding_registry.h"

namespace {

const std::string kCcs = "SYSTEM\\CurrentControlSet";
const std::string kCs1 = "SYSTEM\\ControlSet001";
const std::string kCs3 = "SYSTEM\\ControlSet003";

enum class Op { kQuery, kEnumSubkey, kEnumValue };

// The operations of an in-memory registry, with an exception thrown from the n-th call of one
// operation on a key opened by one path. An operation of the registry never throws; the scan's
// own string handling does, while the key is open, and this puts such an exception at an exact
// point of the walk.
class ThrowingRegistry final : public ForwardingRegistry {
 public:
  ThrowingRegistry(MemoryRegistry& inner, Op op, std::string path, int call,
                   std::function<void()> thrower)
      : ForwardingRegistry(inner),
        op_(op),
        path_(std::move(path)),
        call_(call),
        thrower_(std::move(thrower)) {
    FailCallsWith([this](Call made, const char*, RegKeyHandle key) {
      if (made == Call::kQuery) MaybeThrow(Op::kQuery, key);
      if (made == Call::kEnumSubkey) MaybeThrow(Op::kEnumSubkey, key);
      if (made == Call::kEnumValue) MaybeThrow(Op::kEnumValue, key);
      return regstatus::kSuccess;
    });
  }

  [[nodiscard]] int Thrown() const { return thrown_; }

  RegStatus OpenKey(const char* path, RegKeyHandle* key) override {
    const RegStatus status = ForwardingRegistry::OpenKey(path, key);
    if (status == regstatus::kSuccess) paths_[*key] = path;
    return status;
  }
  RegStatus CloseKey(RegKeyHandle key) override {
    paths_.erase(key);
    return ForwardingRegistry::CloseKey(key);
  }

 private:
  void MaybeThrow(Op op, RegKeyHandle key) {
    if (op != op_ || paths_[key] != path_ || ++calls_ != call_) return;
    ++thrown_;
    thrower_();
  }

  const Op op_;
  const std::string path_;
  const int call_;
  const std::function<void()> thrower_;
  std::map<RegKeyHandle, std::string> paths_;
  int calls_ = 0;
  int thrown_ = 0;
};

// Where the exception strikes, and the records the scan makes all the same.
struct RecoveryCase {
  const char* name;
  Op op;
  std::string path;
  int call;  // counted per key and operation: the walk queries a key first, the inspection next
  std::vector<std::string> recorded;  // key paths, in order
  friend void PrintTo(const RecoveryCase& c, std::ostream* out) { *out << c.name; }
};

// In the untouched scan every key below is recorded, in this order: A, B\B1, B\B2, B, C, the
// root CurrentControlSet itself, then ControlSet001\M and ControlSet003\M.
const RecoveryCase kRecoveryCases[] = {
    // In a root's own walk: the rest of that root is passed over, the next root is walked.
    {"RootQuery", Op::kQuery, kCcs, 1, {kCs1 + "\\M", kCs3 + "\\M"}},
    {"RootSubkeys", Op::kEnumSubkey, kCcs, 2, {kCcs + "\\A", kCs1 + "\\M", kCs3 + "\\M"}},
    // In a key's walk: its later subkeys and its own values are passed over; the parent goes
    // on with its next subkey and is inspected itself.
    {"KeyQuery",
     Op::kQuery,
     kCcs + "\\B",
     1,
     {kCcs + "\\A", kCcs + "\\C", kCcs, kCs1 + "\\M", kCs3 + "\\M"}},
    {"KeySubkeys",
     Op::kEnumSubkey,
     kCcs + "\\B",
     2,
     {kCcs + "\\A", kCcs + "\\B\\B1", kCcs + "\\C", kCcs, kCs1 + "\\M", kCs3 + "\\M"}},
    // In an inspection: that key is not recorded; the walk goes on with its next sibling.
    {"InspectionQuery",
     Op::kQuery,
     kCcs + "\\B\\B1",
     2,
     {kCcs + "\\A", kCcs + "\\B\\B2", kCcs + "\\B", kCcs + "\\C", kCcs, kCs1 + "\\M",
      kCs3 + "\\M"}},
    {"InspectionValues",
     Op::kEnumValue,
     kCcs + "\\B\\B1",
     2,
     {kCcs + "\\A", kCcs + "\\B\\B2", kCcs + "\\B", kCcs + "\\C", kCcs, kCs1 + "\\M",
      kCs3 + "\\M"}},
    // In the inspection of a root: the next root is walked.
    {"RootInspection",
     Op::kEnumValue,
     kCcs,
     1,
     {kCcs + "\\A", kCcs + "\\B\\B1", kCcs + "\\B\\B2", kCcs + "\\B", kCcs + "\\C", kCs1 + "\\M",
      kCs3 + "\\M"}},
};

class ScanRecoveryTest : public ScanTest, public ::testing::WithParamInterface<RecoveryCase> {};

struct NotAStandardException {};

TEST_P(ScanRecoveryTest, ExceptionEndsOnlyTheKeyItStrikesAndTheScanGoesOn) {
  const RecoveryCase& c = GetParam();
  for (const std::string& path : {kCcs, kCcs + "\\A", kCcs + "\\B", kCcs + "\\B\\B1",
                                  kCcs + "\\B\\B2", kCcs + "\\C", kCs1 + "\\M", kCs3 + "\\M"}) {
    PlantModem(path, path.back() == 'M' || path.back() == '2' ? "A" : "D");
  }
  const std::pair<const char*, std::function<void()>> throwers[] = {
      {"bad_alloc", [] { throw std::bad_alloc(); }},
      {"not a std::exception", [] { throw NotAStandardException(); }},
  };
  for (const auto& [kind, thrower] : throwers) {
    SCOPED_TRACE(kind);
    ModemInventory found;
    found.CreateLists();
    ThrowingRegistry throwing(registry, c.op, c.path, c.call, thrower);
    EXPECT_NO_THROW(ModemScanner(throwing, found, nameBuffer).ScanModemSettings());

    EXPECT_EQ(throwing.Thrown(), 1);
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < found.Count(); ++i) paths.push_back(found.keyPaths->GetAt(i));
    EXPECT_EQ(paths, c.recorded);
    EXPECT_EQ(found.dialPrefixes->GetCount(), found.Count());
    EXPECT_TRUE(found.modemFound);
    EXPECT_FALSE(found.normalMode);  // ControlSet003\M, holding "A", is always recorded last
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Points, ScanRecoveryTest, ::testing::ValuesIn(kRecoveryCases),
                         [](const ::testing::TestParamInfo<RecoveryCase>& tested) {
                           return std::string(tested.param.name);
                         });

// ---- A tree deeper than the walk goes.

TEST_F(ScanTest, TreeOf600LevelsIsCutAtTheDepthBoundAndTheScanGoesOn) {
  // Modems at levels 1, 511, 512, 513 and 600 below the root: the walk visits and inspects keys
  // down to the bound, none below it, and then goes on with the deep branch's next sibling and
  // with the next root.
  constexpr int kLevels = 600;
  std::vector<std::string> levels = {kCs1 + "\\Deep"};
  while (levels.size() < kLevels) levels.push_back(levels.back() + "\\L");
  const auto at = [&](int level) { return levels[static_cast<std::size_t>(level) - 1]; };
  for (int level : {1, kMaxWalkDepth - 1, kMaxWalkDepth, kMaxWalkDepth + 1, kLevels}) {
    PlantModem(at(level), "D");
  }
  PlantModem(kCs1 + "\\Later", "A");
  PlantModem(kCs3 + "\\M", "D");
  Scan();

  EXPECT_EQ(Records(), (std::vector<Record>{{at(kMaxWalkDepth), "D"},
                                            {at(kMaxWalkDepth - 1), "D"},
                                            {at(1), "D"},
                                            {kCs1 + "\\Later", "A"},
                                            {kCs3 + "\\M", "D"}}));
}

}  // namespace
