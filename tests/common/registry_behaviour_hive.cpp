// The registry behaviour suite against the hive registry: each test gets a hive file of its
// own, made from the minimal empty hive and opened for writing; the fixture keys are built with
// hivex through the registry's building calls.
#include <hivex.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

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

// ---- What only a hive has: names and string data kept in UTF-16, read and written through
// the ANSI calls in Windows-1252. Characters 1252 lacks come back as '?', as Windows gives them.

namespace {

struct StoredName {
  const char* utf8;  // as the hive holds it
  const char* ansi;  // as EnumSubkey and EnumValue give it
  const char* open;  // another spelling that opens it, or null when nothing does
};

const StoredName kStoredNames[] = {
    {"Caf\xC3\xA9", "Caf\xE9", "CAF\xC9"},      // Latin-1 letter, matched in any case
    {"\xE2\x82\xACuro", "\x80uro", "\x80URO"},  // the euro sign, 0x80 in 1252
    {"\xC5\xA1ka", "\232ka", "\212KA"},         // s with caron (0x9A), upper case 0x8A
    {"\xC2\x81", "\x81", "\x81"},               // unassigned in 1252: kept as is
    {"\xCE\xA9mega", "?mega", nullptr},         // Greek: not in 1252
    {"\xF0\x9F\x98\x80x", "?x", nullptr},       // a surrogate pair is one character
};

// Builds a hive whose keys, value names and string data carry the names above, through hivex
// itself (the registry's building calls take ANSI only).
std::string HiveWithStoredNames(const TempFolder& folder) {
  const std::string path = folder.File("NAMES");
  WriteBytes(path, MinimalEmptyHive());
  hive_h* hive = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  EXPECT_NE(hive, nullptr);
  const hive_node_h names = hivex_node_add_child(hive, hivex_root(hive), "Names");
  for (const StoredName& name : kStoredNames) {
    EXPECT_NE(hivex_node_add_child(hive, names, name.utf8), 0u) << name.ansi;
  }
  // One value per name, its data the name in UTF-16 with a terminator.
  for (const StoredName& name : kStoredNames) {
    const hive_node_h key = hivex_node_get_child(hive, names, name.utf8);
    std::string data;
    for (const char16_t unit : std::u16string(u"\u03A9-") + char16_t{0xE9}) {
      data += static_cast<char>(unit & 0xFF);
      data += static_cast<char>(unit >> 8);
    }
    data.append(2, '\0');
    hive_set_value value{const_cast<char*>(name.utf8), hive_t_REG_SZ, data.size(), data.data()};
    EXPECT_EQ(hivex_node_set_value(hive, key, &value, 0), 0);
  }
  EXPECT_EQ(hivex_commit(hive, nullptr, 0), 0);
  hivex_close(hive);
  return path;
}

TEST(HiveNames, NamesAndStringDataCrossIntoWindows1252AsTheAnsiCallsGiveThem) {
  TempFolder folder;
  auto hive = OpenHive(HiveWithStoredNames(folder), HiveAccess::kWrite);
  RegKey names(*hive);
  ASSERT_EQ(names.Open("SYSTEM\\Names"), regstatus::kSuccess);

  // Subkeys in the hive's order, each name in 1252.
  const std::vector<std::string> listed = SubkeyNames(*hive, names.Get());
  char name[kRegBufferSize];
  for (const StoredName& stored : kStoredNames) {
    SCOPED_TRACE(stored.ansi);
    EXPECT_NE(std::find(listed.begin(), listed.end(), stored.ansi), listed.end());

    // Opened by its 1252 spelling in the other case; a name with '?' opens nothing.
    RegKey key(*hive);
    const std::string path =
        std::string("SYSTEM\\Names\\") + (stored.open ? stored.open : stored.ansi);
    ASSERT_EQ(key.Open(path.c_str()), stored.open ? regstatus::kSuccess : regstatus::kFileNotFound);
    if (!stored.open) continue;

    // The value's name and its string data in 1252; the size queried is the stored one.
    std::uint32_t nameSize = kRegBufferSize, type = 0, dataSize = kRegBufferSize;
    std::uint8_t data[kRegBufferSize];
    ASSERT_EQ(hive->EnumValue(key.Get(), 0, name, &nameSize, &type, data, &dataSize),
              regstatus::kSuccess);
    EXPECT_EQ(std::string(name, nameSize), stored.ansi);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), dataSize), std::string("?-\xE9", 4));
    RegKeyInfo info;
    ASSERT_EQ(hive->QueryKey(key.Get(), &info), regstatus::kSuccess);
    EXPECT_EQ(info.maxValueDataLength, 8u);

    // A write in 1252 is stored in UTF-16 under the stored spelling of the name.
    ASSERT_EQ(hive->SetStringValue(key.Get(), stored.open, "\x80\xE9"), regstatus::kSuccess);
  }
  ASSERT_EQ(hive->Commit({.keepBackup = false, .stepHook = {}}).error, HiveError::kNone);
  names.Reset();
  hive.reset();

  hive_h* reread = hivex_open(folder.File("NAMES").c_str(), 0);
  ASSERT_NE(reread, nullptr);
  const hive_node_h key = hivex_node_get_child(
      reread, hivex_node_get_child(reread, hivex_root(reread), "Names"), "Caf\xC3\xA9");
  const hive_value_h value = hivex_node_get_value(reread, key, "Caf\xC3\xA9");
  ASSERT_NE(value, 0u);
  hive_type type = hive_t_REG_NONE;
  std::size_t size = 0;
  char* stored = hivex_value_value(reread, value, &type, &size);
  EXPECT_EQ(std::string(stored, size), std::string("\xAC\x20\xE9\x00\x00\x00", 6));
  char* storedName = hivex_value_key(reread, value);
  EXPECT_STREQ(storedName, "Caf\xC3\xA9");
  std::free(stored);
  std::free(storedName);
  hivex_close(reread);
}

// A name may hold a zero character: Windows writes such names only through its native calls,
// hivex not at all, so the test writes hivex's names with an X and turns each X into a zero in
// the file's bytes. One name of each stored form: one byte a character, and UTF-16.
TEST(HiveNames, ANameHoldingAZeroCharacterIsReadWhole) {
  TempFolder folder;
  const std::string path = folder.File("ZERO");
  WriteBytes(path, MinimalEmptyHive());
  hive_h* building = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  ASSERT_NE(building, nullptr);
  const hive_node_h names = hivex_node_add_child(building, hivex_root(building), "Names");
  EXPECT_NE(hivex_node_add_child(building, names, "ZeroXname"), 0u);
  EXPECT_NE(hivex_node_add_child(building, names, "\xCE\xA9X1"), 0u);  // Greek: UTF-16
  std::uint32_t one = 1;
  hive_set_value value{const_cast<char*>("ValXzero"), hive_t_REG_DWORD, 4,
                       reinterpret_cast<char*>(&one)};
  EXPECT_EQ(hivex_node_set_value(building, names, &value, 0), 0);
  EXPECT_EQ(hivex_commit(building, nullptr, 0), 0);
  hivex_close(building);

  std::vector<std::uint8_t> bytes = ReadBytes(path);
  const auto zero = [&](std::string_view stored, std::size_t at) {
    const auto found =
        std::search(bytes.begin(), bytes.end(), stored.begin(), stored.end(),
                    [](std::uint8_t byte, char c) { return byte == static_cast<std::uint8_t>(c); });
    ASSERT_NE(found, bytes.end()) << "no stored name " << stored;
    found[static_cast<std::ptrdiff_t>(at)] = 0;
  };
  zero("ZeroXname", 4);
  zero("ValXzero", 3);
  const char greek[] = {'\xA9', '\x03', 'X', '\0', '1', '\0'};  // Ω X 1 in UTF-16
  zero(std::string_view(greek, sizeof greek), 2);
  WriteBytes(path, bytes);

  auto hive = OpenHive(path, HiveAccess::kRead);
  RegKey key(*hive);
  ASSERT_EQ(key.Open("SYSTEM\\Names"), regstatus::kSuccess);
  std::vector<std::string> subkeys = SubkeyNames(*hive, key.Get());
  std::sort(subkeys.begin(), subkeys.end());
  char name[kRegBufferSize];
  EXPECT_EQ(subkeys, (std::vector<std::string>{std::string("?\0"
                                                           "1",
                                                           3),
                                               std::string("Zero\0name", 9)}));
  std::uint32_t nameSize = sizeof name;
  ASSERT_EQ(hive->EnumValue(key.Get(), 0, name, &nameSize, nullptr, nullptr, nullptr),
            regstatus::kSuccess);
  EXPECT_EQ(std::string(name, nameSize), std::string("Val\0zero", 8));
  RegKeyInfo info;
  ASSERT_EQ(hive->QueryKey(key.Get(), &info), regstatus::kSuccess);
  EXPECT_EQ(info.maxSubKeyNameLength, 9u);
  EXPECT_EQ(info.maxValueNameLength, 8u);
}

}  // namespace
