// What only the in-memory registry has: aliases and their loops, injected failures, the account
// of handles, deleted keys behind open handles, string sizes in the key query, its enumeration
// order, and the call counts and write log. The six operations' common behaviour is checked
// against the real registry too, elsewhere.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/memory_registry.h"

namespace {

const std::string kCs1 = "SYSTEM\\ControlSet001";
const std::string kCcs = "SYSTEM\\CurrentControlSet";
const auto kUntouched = reinterpret_cast<RegKeyHandle>(std::uintptr_t{0x5A5A});

class MemoryRegistryTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(registry.OpenHandleCount(), 0u); }

  RegKeyInfo Query(const std::string& path) {
    RegKey key(registry);
    EXPECT_EQ(key.Open(path.c_str()), regstatus::kSuccess) << path;
    RegKeyInfo info;
    EXPECT_EQ(registry.QueryKey(key.Get(), &info), regstatus::kSuccess) << path;
    return info;
  }

  std::vector<std::string> Subkeys(const std::string& path) {
    RegKey key(registry);
    EXPECT_EQ(key.Open(path.c_str()), regstatus::kSuccess) << path;
    std::vector<std::string> names;
    char name[kRegBufferSize];
    for (std::uint32_t i = 0;; ++i) {
      std::uint32_t size = kRegBufferSize;
      if (registry.EnumSubkey(key.Get(), i, name, &size) != regstatus::kSuccess) break;
      names.emplace_back(name, size);
    }
    return names;
  }

  RegStatus OpenStatus(const std::string& path) {
    RegKeyHandle handle = kUntouched;
    const RegStatus status = registry.OpenKey(path.c_str(), &handle);
    if (status == regstatus::kSuccess) {
      registry.CloseKey(handle);
    } else {
      EXPECT_EQ(handle, kUntouched) << path;
    }
    return status;
  }

  MemoryRegistry registry;
};

// ---- Aliases

TEST_F(MemoryRegistryTest, AliasShowsItsTargetAndIsListedByItsParent) {
  registry.SetString(kCs1 + "\\Modem", "DialPrefix", "D");
  registry.AddAlias(kCcs, kCs1);

  EXPECT_EQ(Subkeys("SYSTEM"), (std::vector<std::string>{"ControlSet001", "CurrentControlSet"}));
  EXPECT_EQ(Subkeys(kCcs), (std::vector<std::string>{"Modem"}));
  EXPECT_EQ(Query(kCcs + "\\Modem").valueCount, 1u);

  // A write through the alias lands in the target; the log keeps the path as opened.
  {
    RegKey key(registry);
    ASSERT_EQ(key.Open((kCcs + "\\MODEM").c_str()), regstatus::kSuccess);
    ASSERT_EQ(registry.SetStringValue(key.Get(), "DialPrefix", "A"), regstatus::kSuccess);
  }
  EXPECT_EQ(registry.GetValue(kCs1 + "\\Modem", "dialprefix")->data,
            (std::vector<std::uint8_t>{'A', 0}));
  ASSERT_EQ(registry.Writes().size(), 1u);
  EXPECT_EQ(registry.Writes()[0].path, kCcs + "\\MODEM");

  // Keys created through the alias belong to the target.
  registry.CreateKey(kCcs + "\\Added");
  EXPECT_TRUE(registry.KeyExists(kCs1 + "\\Added"));

  // Deleting the alias leaves the target whole.
  EXPECT_TRUE(registry.DeleteKey(kCcs));
  EXPECT_FALSE(registry.KeyExists(kCcs));
  EXPECT_TRUE(registry.KeyExists(kCs1 + "\\Modem"));
  EXPECT_THROW(registry.AddAlias(kCs1 + "\\Modem", kCs1), std::invalid_argument);
}

TEST_F(MemoryRegistryTest, AliasToAnAncestorOpensAtAnyDepth) {
  registry.SetDword(kCs1 + "\\Loop\\M", "TONE", 1);
  registry.AddAlias(kCs1 + "\\Loop\\Back", kCs1 + "\\Loop");
  std::string path = kCs1 + "\\Loop";
  for (int level = 0; level < 2000; ++level) path += "\\back";
  EXPECT_EQ(Query(path).subKeyCount, 2u);
  EXPECT_EQ(Query(path + "\\M").valueCount, 1u);
}

TEST_F(MemoryRegistryTest, AliasesThatNeverReachAKeyFailTheOpen) {
  registry.AddAlias("A\\Self", "A\\Self");
  registry.AddAlias("A\\One", "A\\Two");
  registry.AddAlias("A\\Two", "A\\One");
  registry.AddAlias("A\\Dangling", "B\\Later");
  const struct {
    const char* path;
    RegStatus status;
  } cases[] = {
      {"A\\Self", regstatus::kInvalidParameter},    {"A\\One\\X", regstatus::kInvalidParameter},
      {"A\\Two", regstatus::kInvalidParameter},     {"A\\Dangling", regstatus::kFileNotFound},
      {"A\\Dangling\\X", regstatus::kFileNotFound},
  };
  for (const auto& c : cases) EXPECT_EQ(OpenStatus(c.path), c.status) << c.path;
  EXPECT_EQ(Subkeys("A").size(), 4u);  // listed all the same
  EXPECT_THROW(registry.CreateKey("A\\One\\X"), std::invalid_argument);

  registry.CreateKey("B\\Later\\X");  // the target appears: the alias now works
  EXPECT_EQ(OpenStatus("A\\Dangling\\X"), regstatus::kSuccess);
}

// ---- Paths

// An open starts from where the last one's path and its own part, so each case opens one path,
// perhaps changes the tree, then opens another that shares its head: the second must reach the
// key its whole path names in the tree as it is now.
TEST_F(MemoryRegistryTest, AnOpenSharingTheLastOnesHeadReachesTheKeyOfItsWholePath) {
  std::string deep = "Deep\\Loop";
  for (int level = 0; level < 4000; ++level) deep += "\\back";  // past any remembered head
  const struct {
    const char* name;
    std::function<void(MemoryRegistry&)> change;  // after the first open
    std::string first;
    std::string second;
    RegStatus status;
    std::uint32_t valueCount;  // of the second key, when it opens
  } cases[] = {
      {"sibling", [](MemoryRegistry&) {}, "K\\A\\X", "K\\A\\Y", regstatus::kSuccess, 2},
      {"parent", [](MemoryRegistry&) {}, "K\\A\\X", "K\\A", regstatus::kSuccess, 0},
      {"a name that only begins like one walked", [](MemoryRegistry&) {}, "K\\A\\X", "K\\AB",
       regstatus::kFileNotFound, 0},
      {"another spelling", [](MemoryRegistry&) {}, "K\\A\\X", "k\\a\\y", regstatus::kSuccess, 2},
      {"deleted and made again",
       [](MemoryRegistry& r) {
         r.DeleteKey("K\\A");
         r.SetString("K\\A\\Y", "Only", "1");
       },
       "K\\A\\X", "K\\A\\Y", regstatus::kSuccess, 1},
      {"deleted", [](MemoryRegistry& r) { r.DeleteKey("K\\A"); }, "K\\A\\X", "K\\A\\Y",
       regstatus::kFileNotFound, 0},
      {"deleted through a path that passes through it",
       [](MemoryRegistry& r) { r.DeleteKey("K\\A\\Up\\A"); }, "K\\A\\X", "K\\A\\Y",
       regstatus::kFileNotFound, 0},
      {"alias pointed elsewhere", [](MemoryRegistry& r) { r.AddAlias("K\\Link", "K\\B"); },
       "K\\Link\\X", "K\\Link\\Y", regstatus::kSuccess, 3},
      {"deeper than what is remembered", [](MemoryRegistry&) {}, deep + "\\M", deep,
       regstatus::kSuccess, 0},
      {"deeper, then a value of it", [](MemoryRegistry&) {}, deep, deep + "\\M",
       regstatus::kSuccess, 1},
  };
  for (const auto& c : cases) {
    MemoryRegistry r;
    r.CreateKey("K\\A\\X");
    r.SetString("K\\A\\Y", "One", "1");
    r.SetString("K\\A\\Y", "Two", "2");
    r.CreateKey("K\\A\\B");
    r.CreateKey("K\\B\\X");
    r.SetString("K\\B\\Y", "One", "1");
    r.SetString("K\\B\\Y", "Two", "2");
    r.SetString("K\\B\\Y", "Three", "3");
    r.AddAlias("K\\Link", "K\\A");
    r.AddAlias("K\\A\\Up", "K");
    r.SetDword("Deep\\Loop\\M", "TONE", 1);
    r.AddAlias("Deep\\Loop\\Back", "Deep\\Loop");

    RegKeyHandle handle = nullptr;
    ASSERT_EQ(r.OpenKey(c.first.c_str(), &handle), regstatus::kSuccess) << c.name;
    EXPECT_EQ(r.CloseKey(handle), regstatus::kSuccess);
    c.change(r);
    handle = kUntouched;
    ASSERT_EQ(r.OpenKey(c.second.c_str(), &handle), c.status) << c.name;
    if (c.status != regstatus::kSuccess) {
      EXPECT_EQ(handle, kUntouched) << c.name;
      continue;
    }
    RegKeyInfo info;
    EXPECT_EQ(r.QueryKey(handle, &info), regstatus::kSuccess) << c.name;
    EXPECT_EQ(info.valueCount, c.valueCount) << c.name;
    EXPECT_EQ(r.CloseKey(handle), regstatus::kSuccess);
    EXPECT_EQ(r.OpenHandleCount(), 0u);
  }
}

TEST_F(MemoryRegistryTest, OpenSkipsEmptyComponentsButRefusesALeadingBackslash) {
  registry.CreateKey(kCs1 + "\\Key");
  const struct {
    std::string path;
    RegStatus status;
  } cases[] = {
      {"SYSTEM\\\\ControlSet001\\Key\\", regstatus::kSuccess},
      {"", regstatus::kSuccess},  // HKEY_LOCAL_MACHINE itself
      {"\\" + kCs1, regstatus::kBadPathname},
      {"\\", regstatus::kBadPathname},
      {kCs1 + "/Key", regstatus::kFileNotFound},
      {kCs1 + "\\.", regstatus::kFileNotFound},
  };
  for (const auto& c : cases) EXPECT_EQ(OpenStatus(c.path), c.status) << c.path;
  EXPECT_THROW(registry.CreateKey("A\\\\B"), std::invalid_argument);
  EXPECT_THROW(registry.SetDword("\\A", "v", 1), std::invalid_argument);
  EXPECT_THROW(registry.SetString("A\\", "v", "x"), std::invalid_argument);
  EXPECT_FALSE(registry.KeyExists("A"));
}

// ---- Injected failures

TEST_F(MemoryRegistryTest, EachInjectedFailureHitsOnlyItsOperationKeyAndIndex) {
  const std::string key = kCs1 + "\\Key";
  for (const char* sub : {"a", "b", "c"}) registry.CreateKey(key + "\\" + sub);
  for (const char* value : {"x", "y", "z"}) registry.SetString(key, value, "v");
  registry.AddAlias(kCcs, kCs1);

  registry.DenyAccess(kCs1 + "\\Denied");
  registry.CreateKey(kCs1 + "\\Denied");
  registry.FailQuery(key, 1234);
  registry.FailSubkeyEnum(key, 1, 4321);
  registry.FailValueEnum(key, 2);
  registry.FailWrite(key);

  EXPECT_EQ(OpenStatus(kCs1 + "\\DENIED"), regstatus::kAccessDenied);
  EXPECT_EQ(OpenStatus(kCcs + "\\Denied"), regstatus::kSuccess);  // matched as spelled

  for (const std::string& spelled : {key, std::string("system\\controlset001\\KEY"),
                                     std::string("SYSTEM\\\\ControlSet001\\Key\\")}) {
    SCOPED_TRACE(spelled);
    RegKey handle(registry);
    ASSERT_EQ(handle.Open(spelled.c_str()), regstatus::kSuccess);
    RegKeyInfo info;
    EXPECT_EQ(registry.QueryKey(handle.Get(), &info), 1234);

    char name[kRegBufferSize];
    std::uint8_t data[kRegBufferSize];
    std::vector<RegStatus> subkeys, values;
    for (std::uint32_t i = 0; i < 4; ++i) {
      std::uint32_t nameSize = kRegBufferSize, dataSize = kRegBufferSize, type = 0;
      subkeys.push_back(registry.EnumSubkey(handle.Get(), i, name, &nameSize));
      nameSize = kRegBufferSize;
      values.push_back(
          registry.EnumValue(handle.Get(), i, name, &nameSize, &type, data, &dataSize));
    }
    EXPECT_EQ(subkeys, (std::vector<RegStatus>{0, 4321, 0, regstatus::kNoMoreItems}));
    EXPECT_EQ(values,
              (std::vector<RegStatus>{0, 0, regstatus::kGenFailure, regstatus::kNoMoreItems}));
    EXPECT_EQ(registry.SetStringValue(handle.Get(), "x", "new"), regstatus::kAccessDenied);
  }

  // The same key through the alias is another path: nothing fails there.
  RegKey viaAlias(registry);
  ASSERT_EQ(viaAlias.Open((kCcs + "\\Key").c_str()), regstatus::kSuccess);
  RegKeyInfo info;
  EXPECT_EQ(registry.QueryKey(viaAlias.Get(), &info), regstatus::kSuccess);
  EXPECT_EQ(registry.SetStringValue(viaAlias.Get(), "x", "new"), regstatus::kSuccess);
  EXPECT_EQ(registry.Writes().size(), 1u);  // the refused writes are not logged
  EXPECT_THROW(registry.FailQuery(key, regstatus::kSuccess), std::invalid_argument);
}

// A handle works out once where it stands in the failure tables; a failure added later must
// still reach the next call on it.
TEST_F(MemoryRegistryTest, AFailureAddedWhileAKeyIsOpenHitsItsNextCall) {
  const std::string key = kCs1 + "\\Key";
  registry.CreateKey(key + "\\Sub");
  registry.SetString(key, "x", "v");
  registry.FailWrite(kCs1 + "\\Other");  // the tables are in use before the key is opened
  RegKey handle(registry);
  ASSERT_EQ(handle.Open(key.c_str()), regstatus::kSuccess);
  RegKeyInfo info;
  char name[kRegBufferSize];
  std::uint8_t data[kRegBufferSize];
  const auto enumSubkey = [&] {
    std::uint32_t size = kRegBufferSize;
    return registry.EnumSubkey(handle.Get(), 0, name, &size);
  };
  const auto enumValue = [&] {
    std::uint32_t size = kRegBufferSize, dataSize = kRegBufferSize, type = 0;
    return registry.EnumValue(handle.Get(), 0, name, &size, &type, data, &dataSize);
  };
  EXPECT_EQ(registry.QueryKey(handle.Get(), &info), regstatus::kSuccess);
  EXPECT_EQ(enumSubkey(), regstatus::kSuccess);
  EXPECT_EQ(enumValue(), regstatus::kSuccess);
  EXPECT_EQ(registry.SetStringValue(handle.Get(), "x", "w"), regstatus::kSuccess);

  registry.FailQuery(key, 1001);
  EXPECT_EQ(registry.QueryKey(handle.Get(), &info), 1001);
  registry.FailSubkeyEnum(key, 0, 1002);
  EXPECT_EQ(enumSubkey(), 1002);
  registry.FailValueEnum(key, 0, 1003);
  EXPECT_EQ(enumValue(), 1003);
  registry.FailWrite(key, 1004);
  EXPECT_EQ(registry.SetStringValue(handle.Get(), "x", "w"), 1004);
}

// ---- Handles

TEST_F(MemoryRegistryTest, HandlesAreNeverReusedAndBadClosesAreCounted) {
  registry.CreateKey(kCs1);
  std::set<RegKeyHandle> seen;
  RegKeyHandle stale = nullptr;
  for (int i = 0; i < 100; ++i) {
    RegKeyHandle handle = nullptr;
    ASSERT_EQ(registry.OpenKey(kCs1.c_str(), &handle), regstatus::kSuccess);
    EXPECT_TRUE(seen.insert(handle).second) << "handle value reused";
    EXPECT_EQ(registry.OpenHandleCount(), 1u);
    ASSERT_EQ(registry.CloseKey(handle), regstatus::kSuccess);
    stale = handle;
  }
  RegKeyInfo info;
  char name[kRegBufferSize];
  std::uint32_t size = kRegBufferSize;
  EXPECT_EQ(registry.QueryKey(stale, &info), regstatus::kInvalidHandle);
  EXPECT_EQ(registry.EnumSubkey(stale, 0, name, &size), regstatus::kInvalidHandle);
  EXPECT_EQ(registry.SetStringValue(stale, "v", "x"), regstatus::kInvalidHandle);
  EXPECT_EQ(registry.BadCloseCount(), 0u);
  EXPECT_EQ(registry.CloseKey(stale), regstatus::kInvalidHandle);
  EXPECT_EQ(registry.CloseKey(nullptr), regstatus::kInvalidHandle);
  EXPECT_EQ(registry.BadCloseCount(), 2u);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(MemoryRegistryTest, HandleToADeletedKeyFailsUntilClosed) {
  registry.SetString(kCs1 + "\\Gone\\Child", "v", "x");
  registry.AddAlias(kCs1 + "\\Gone\\Link", "Elsewhere");
  registry.CreateKey("Elsewhere");
  RegKeyHandle gone = nullptr, child = nullptr, throughLink = nullptr;
  ASSERT_EQ(registry.OpenKey((kCs1 + "\\Gone").c_str(), &gone), regstatus::kSuccess);
  ASSERT_EQ(registry.OpenKey((kCs1 + "\\Gone\\Child").c_str(), &child), regstatus::kSuccess);
  ASSERT_EQ(registry.OpenKey((kCs1 + "\\Gone\\Link").c_str(), &throughLink), regstatus::kSuccess);

  ASSERT_TRUE(registry.DeleteKey(kCs1 + "\\GONE"));
  registry.CreateKey(kCs1 + "\\Gone\\Child");  // a new key of the same name is another key

  for (RegKeyHandle handle : {gone, child}) {
    RegKeyInfo info;
    char name[kRegBufferSize];
    std::uint8_t data[kRegBufferSize];
    std::uint32_t nameSize = kRegBufferSize, dataSize = kRegBufferSize, type = 0;
    EXPECT_EQ(registry.QueryKey(handle, &info), regstatus::kKeyDeleted);
    EXPECT_EQ(registry.EnumSubkey(handle, 0, name, &nameSize), regstatus::kKeyDeleted);
    EXPECT_EQ(registry.EnumValue(handle, 0, name, &nameSize, &type, data, &dataSize),
              regstatus::kKeyDeleted);
    EXPECT_EQ(registry.SetStringValue(handle, "v", "x"), regstatus::kKeyDeleted);
  }
  RegKeyInfo info;
  EXPECT_EQ(registry.QueryKey(throughLink, &info), regstatus::kSuccess);  // the target lives on
  EXPECT_EQ(registry.OpenHandleCount(), 3u);
  for (RegKeyHandle handle : {gone, child, throughLink}) {
    EXPECT_EQ(registry.CloseKey(handle), regstatus::kSuccess);
  }
  EXPECT_EQ(registry.BadCloseCount(), 0u);
  EXPECT_EQ(registry.Writes().size(), 0u);

  // A value goes once, by any spelling of its name.
  registry.SetString(kCs1, "Gone", "x");
  EXPECT_TRUE(registry.DeleteValue(kCs1, "GONE"));
  EXPECT_FALSE(registry.DeleteValue(kCs1, "Gone"));
  EXPECT_FALSE(registry.GetValue(kCs1, "Gone").has_value());

  // Nothing to delete: a missing key, a key below one, and the machine itself.
  EXPECT_FALSE(registry.DeleteKey(kCs1 + "\\Missing"));
  EXPECT_FALSE(registry.DeleteKey("Nowhere\\Below"));
  EXPECT_FALSE(registry.DeleteKey(""));
  EXPECT_TRUE(registry.KeyExists(kCs1 + "\\Gone\\Child"));
}

// ---- The key query and the order of names

TEST_F(MemoryRegistryTest, QueryCountsStringDataAsStoredInUtf16) {
  const struct {
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    std::uint32_t expected;
  } cases[] = {
      {regtype::kSz, {'D', 0}, 4},
      {regtype::kSz, {}, 1},  // the one-byte value below is the longest
      {regtype::kSz, std::vector<std::uint8_t>(256, 'x'), 512},  // 255 characters and a zero
      {regtype::kExpandSz, {'%', 'A', '%'}, 6},                  // stored without a zero
      {regtype::kMultiSz, {'a', 0, 'b', 0, 0}, 10},
      {regtype::kBinary, std::vector<std::uint8_t>(300, 1), 300},
      {regtype::kDword, {1, 0, 0, 0}, 4},
      {regtype::kLink, {1, 2, 3}, 3},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = kCs1 + "\\K" + std::to_string(n++);
    registry.SetValue(path, "v", c.type, c.data);
    registry.SetValue(path, "LongerName", regtype::kBinary, {1});
    registry.CreateKey(path + "\\Sub");
    registry.AddAlias(path + "\\A longer alias", path);
    const RegKeyInfo info = Query(path);
    EXPECT_EQ(info.maxValueDataLength, c.expected) << path;
    EXPECT_EQ(info.valueCount, 2u);
    EXPECT_EQ(info.maxValueNameLength, 10u);
    EXPECT_EQ(info.subKeyCount, 2u);
    EXPECT_EQ(info.maxSubKeyNameLength, 14u);
  }

  // A replacing write resizes: the longest data shrinks with it.
  registry.SetString(kCs1 + "\\K2", "V", "D");
  EXPECT_EQ(Query(kCs1 + "\\K2").maxValueDataLength, 4u);
  EXPECT_EQ(registry.GetValue(kCs1 + "\\K2", "v")->name, "v");  // keeps its first spelling
}

TEST_F(MemoryRegistryTest, NamesSortWithLettersFoldedToLowerCase) {
  // '_' (0x5F) lies between 'Z' and 'a': lower-case folding puts it before every letter.
  for (const char* name : {"b", "_x", "A", "a1", "Z", "~"})
    registry.CreateKey("K\\" + std::string(name));
  EXPECT_EQ(Subkeys("K"), (std::vector<std::string>{"_x", "A", "a1", "b", "Z", "~"}));
  for (const char* name : {"b", "_x", "A"}) registry.SetDword("K", name, 1);
  std::vector<std::string> values;
  for (const StoredValue& value : registry.Values("K")) values.push_back(value.name);
  EXPECT_EQ(values, (std::vector<std::string>{"_x", "A", "b"}));
}

// ---- Call counts and the deep end

TEST_F(MemoryRegistryTest, CallCountsIncludeFailedCalls) {
  registry.CreateKey("K");
  RegKeyHandle handle = nullptr;
  EXPECT_EQ(registry.OpenKey("Missing", &handle), regstatus::kFileNotFound);
  ASSERT_EQ(registry.OpenKey("K", &handle), regstatus::kSuccess);
  RegKeyInfo info;
  char name[kRegBufferSize];
  std::uint8_t data[kRegBufferSize];
  std::uint32_t nameSize = kRegBufferSize, dataSize = kRegBufferSize, type = 0;
  EXPECT_EQ(registry.QueryKey(handle, &info), regstatus::kSuccess);
  EXPECT_EQ(registry.EnumSubkey(handle, 0, name, &nameSize), regstatus::kNoMoreItems);
  EXPECT_EQ(registry.EnumValue(handle, 0, name, &nameSize, &type, data, &dataSize),
            regstatus::kNoMoreItems);
  EXPECT_EQ(registry.SetStringValue(handle, "v", "x"), regstatus::kSuccess);
  EXPECT_EQ(registry.CloseKey(handle), regstatus::kSuccess);
  EXPECT_EQ(registry.CloseKey(handle), regstatus::kInvalidHandle);
  const RegistryCallCounts& calls = registry.CallCounts();
  EXPECT_EQ(calls.open, 2u);
  EXPECT_EQ(calls.query, 1u);
  EXPECT_EQ(calls.enumSubkey, 1u);
  EXPECT_EQ(calls.enumValue, 1u);
  EXPECT_EQ(calls.setValue, 1u);
  EXPECT_EQ(calls.close, 2u);
  EXPECT_EQ(calls.Total(), 8u);
}

TEST_F(MemoryRegistryTest, AVeryDeepChainIsBuiltOpenedAndFreedWithoutRecursion) {
  std::string path = "Deep";
  for (int level = 0; level < 200000; ++level) path += "\\d";
  registry.SetDword(path, "v", 1);
  EXPECT_EQ(Query(path).valueCount, 1u);
  EXPECT_TRUE(registry.DeleteKey("Deep"));
  registry.CreateKey(path);  // freed again by the registry's destructor
}

}  // namespace
