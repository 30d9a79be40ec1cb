// Behaviour checks of the six registry operations, shared by every registry the tool can be
// given (see registry_behaviour.h). What is checked is what the real registry does, as
// measured under Wine: sizes, boundaries at 511/512, order, failures, and which output bytes a
// call leaves alone. Output buffers are pre-filled with sentinel bytes to catch writes past
// what a call returns.
#include "tests/common/registry_behaviour.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSentinel = 0xCC;
constexpr std::uint32_t kSentinelNumber = 0xCCCCCCCCu;
// Sentinel bytes behind the 512 bytes a call is allowed to use.
constexpr std::size_t kSlack = 64;

// Statuses that only the real registry's quirks produce; the logic never tells them apart.
constexpr RegStatus kBadPathname = 161;
constexpr RegStatus kKeyDeleted = 1018;

// A handle value no registry issues, to see that a failed open leaves its output alone.
char sentinelHandleTarget;
RegKeyHandle const kSentinelHandle = &sentinelHandleTarget;

Bytes Raw(std::string_view text) { return Bytes(text.begin(), text.end()); }

// String data with its terminating zero.
Bytes Sz(std::string_view text) {
  Bytes bytes = Raw(text);
  bytes.push_back(0);
  return bytes;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Succeeds when every byte of `buffer` from `from` on still holds the sentinel.
template <typename Buffer>
::testing::AssertionResult UntouchedFrom(const Buffer& buffer, std::size_t from) {
  for (std::size_t i = from; i < buffer.size(); ++i) {
    if (static_cast<std::uint8_t>(buffer[i]) != kSentinel) {
      return ::testing::AssertionFailure()
             << "byte " << i << " was written (0x" << std::hex
             << static_cast<int>(static_cast<std::uint8_t>(buffer[i])) << std::dec
             << "); expected untouched from byte " << from;
    }
  }
  return ::testing::AssertionSuccess();
}

// The outputs of one EnumValue call: 512-byte name and data buffers with sentinels behind.
struct ValueRead {
  ValueRead() {
    name.fill(static_cast<char>(kSentinel));
    data.fill(kSentinel);
  }
  // What the sizes say was returned (meaningful after success), clamped to the buffers.
  [[nodiscard]] std::string Name() const {
    return std::string(name.data(), std::min<std::size_t>(nameSize, name.size()));
  }
  [[nodiscard]] Bytes Data() const {
    return Bytes(data.begin(), data.begin() + std::min<std::size_t>(dataSize, data.size()));
  }

  RegStatus status = -1;
  std::uint32_t nameSize = kRegBufferSize;
  std::uint32_t type = kSentinelNumber;
  std::uint32_t dataSize = kRegBufferSize;
  std::array<char, kRegBufferSize + kSlack> name;
  std::array<std::uint8_t, kRegBufferSize + kSlack> data;
};

ValueRead ReadValue(RegistryOperations& ops, RegKeyHandle key, std::uint32_t index) {
  ValueRead read;
  read.status = ops.EnumValue(key, index, read.name.data(), &read.nameSize, &read.type,
                              read.data.data(), &read.dataSize);
  return read;
}

// The outputs of one EnumSubkey call into a buffer of `bufferSize` bytes, sentinels behind.
struct SubkeyRead {
  SubkeyRead() { name.fill(static_cast<char>(kSentinel)); }
  [[nodiscard]] std::string Name() const {
    return std::string(name.data(), std::min<std::size_t>(nameSize, name.size()));
  }

  RegStatus status = -1;
  std::uint32_t nameSize = kRegBufferSize;
  std::array<char, kRegBufferSize + kSlack> name;
};

SubkeyRead ReadSubkey(RegistryOperations& ops, RegKeyHandle key, std::uint32_t index,
                      std::uint32_t bufferSize = kRegBufferSize) {
  SubkeyRead read;
  read.nameSize = bufferSize;
  read.status = ops.EnumSubkey(key, index, read.name.data(), &read.nameSize);
  return read;
}

RegKeyInfo SentinelInfo() {
  return {kSentinelNumber, kSentinelNumber, kSentinelNumber, kSentinelNumber, kSentinelNumber};
}

}  // namespace

void RegistryBehaviour::SetUp() {
  registry_ = GetParam().make();
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  root_ = std::string(kRegistryBehaviourRoot) + "\\" + GetParam().name + "\\" +
          test.substr(0, test.find('/'));
  registry_->DeleteTree(root_);  // what an interrupted earlier run may have left
  registry_->CreateKey(root_);
}

void RegistryBehaviour::TearDown() {
  if (const auto handles = registry_->OpenHandleCount()) {
    EXPECT_EQ(*handles, 0u) << "handles left open";
  }
  registry_->DeleteTree(root_);
}

// ---- Open and close

TEST_P(RegistryBehaviour, OpenOfAMissingKeyFailsAndLeavesTheHandleUntouched) {
  Fixture().CreateKey(Below("Child"));
  Fixture().SetValue(Root(), "Value", regtype::kSz, Sz("x"));

  for (const char* relative : {"Missing", "Missing\\Deeper", "Chil", "Child\\Missing", "Value"}) {
    SCOPED_TRACE(relative);
    RegKeyHandle handle = kSentinelHandle;
    EXPECT_EQ(Ops().OpenKey(Below(relative).c_str(), &handle), regstatus::kFileNotFound);
    EXPECT_EQ(handle, kSentinelHandle);
  }
}

TEST_P(RegistryBehaviour, OpenMatchesEveryPathComponentWithoutRegardToCase) {
  Fixture().CreateKey(Below("MixedCase\\Inner"));

  for (const std::string& path :
       {Upper(Below("MixedCase\\Inner")), Lower(Below("MixedCase\\Inner"))}) {
    SCOPED_TRACE(path);
    RegKey key(Ops());
    EXPECT_EQ(key.Open(path.c_str()), regstatus::kSuccess);
  }
}

TEST_P(RegistryBehaviour, OpenTakesPathSpellingsAsTheRealRegistryDoes) {
  Fixture().CreateKey(Below("Child\\Grandchild"));
  struct Case {
    std::string path;
    RegStatus status;
    std::uint32_t subkeys;  // of the key opened, on success
  };
  const Case cases[] = {
      {"\\" + Root(), kBadPathname, 0},
      {Below("\\Child"), regstatus::kSuccess, 1},  // empty components are skipped
      {Below("Child\\"), regstatus::kSuccess, 1},
      {Below(".\\Child"), regstatus::kFileNotFound, 0},  // "." and ".." are plain names
      {Below("Child\\Grandchild\\.."), regstatus::kFileNotFound, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RegKey key(Ops());
    ASSERT_EQ(key.Open(c.path.c_str()), c.status);
    if (c.status != regstatus::kSuccess) continue;
    RegKeyInfo info = SentinelInfo();
    ASSERT_EQ(Ops().QueryKey(key.Get(), &info), regstatus::kSuccess);
    EXPECT_EQ(info.subKeyCount, c.subkeys);
  }

  // The empty path opens HKEY_LOCAL_MACHINE itself, with a handle of its own to close.
  RegKeyHandle machine = kSentinelHandle;
  ASSERT_EQ(Ops().OpenKey("", &machine), regstatus::kSuccess);
  RegKeyInfo info = SentinelInfo();
  EXPECT_EQ(Ops().QueryKey(machine, &info), regstatus::kSuccess);
  EXPECT_GE(info.subKeyCount, 1u);
  EXPECT_EQ(Ops().CloseKey(machine), regstatus::kSuccess);
}

TEST_P(RegistryBehaviour, AHandleToADeletedKeyFailsWithKeyDeletedButStillCloses) {
  // The deleted key itself, and a key two levels below it: the whole tree goes.
  for (const char* doomed : {"Doomed", "Doomed\\Inner\\Deeper"}) {
    SCOPED_TRACE(doomed);
    Fixture().SetValue(Below("Doomed\\Inner\\Deeper"), "v", regtype::kSz, Sz("x"));
    RegKeyHandle handle = nullptr;
    ASSERT_EQ(Ops().OpenKey(Below(doomed).c_str(), &handle), regstatus::kSuccess);
    Fixture().DeleteTree(Below("Doomed"));
    // A key of the same name made afterwards is another key.
    Fixture().SetValue(Below(doomed), "v", regtype::kSz, Sz("x"));

    RegKeyInfo info = SentinelInfo();
    EXPECT_EQ(Ops().QueryKey(handle, &info), kKeyDeleted);
    EXPECT_EQ(ReadSubkey(Ops(), handle, 0).status, kKeyDeleted);
    EXPECT_EQ(ReadValue(Ops(), handle, 0).status, kKeyDeleted);
    EXPECT_EQ(Ops().SetStringValue(handle, "v", "A"), kKeyDeleted);
    EXPECT_EQ(Ops().CloseKey(handle), regstatus::kSuccess);
  }
}

TEST_P(RegistryBehaviour, EveryOpenIssuesItsOwnHandleAndCloseReleasesIt) {
  Fixture().CreateKey(Below("Child"));
  const std::string path = Below("Child");
  const auto openBefore = Fixture().OpenHandleCount();

  std::vector<RegKeyHandle> handles;
  for (int i = 0; i < 3; ++i) {
    RegKeyHandle handle = nullptr;
    ASSERT_EQ(Ops().OpenKey(path.c_str(), &handle), regstatus::kSuccess);
    ASSERT_NE(handle, nullptr);
    handles.push_back(handle);
  }
  std::vector<RegKeyHandle> distinct = handles;
  std::sort(distinct.begin(), distinct.end());
  EXPECT_EQ(std::unique(distinct.begin(), distinct.end()), distinct.end()) << "a handle repeats";

  RegKeyHandle missing = kSentinelHandle;
  EXPECT_EQ(Ops().OpenKey(Below("Missing").c_str(), &missing), regstatus::kFileNotFound);
  if (openBefore) {
    EXPECT_EQ(*Fixture().OpenHandleCount(), *openBefore + 3);
  }

  // Closing one handle leaves the others usable.
  EXPECT_EQ(Ops().CloseKey(handles[0]), regstatus::kSuccess);
  RegKeyInfo info = SentinelInfo();
  EXPECT_EQ(Ops().QueryKey(handles[1], &info), regstatus::kSuccess);
  EXPECT_EQ(Ops().CloseKey(handles[1]), regstatus::kSuccess);
  EXPECT_EQ(Ops().CloseKey(handles[2]), regstatus::kSuccess);
  if (openBefore) {
    EXPECT_EQ(*Fixture().OpenHandleCount(), *openBefore);
  }

  // A closed handle is dead: using it or closing it again is refused.
  EXPECT_EQ(Ops().QueryKey(handles[0], &info), regstatus::kInvalidHandle);
  EXPECT_EQ(Ops().CloseKey(handles[2]), regstatus::kInvalidHandle);
  if (openBefore) {
    EXPECT_EQ(*Fixture().OpenHandleCount(), *openBefore);
  }
}

// ---- Query

TEST_P(RegistryBehaviour, QueryOfAnEmptyKeyReportsZeros) {
  RegKey key(Ops());
  ASSERT_EQ(key.Open(Root().c_str()), regstatus::kSuccess);
  RegKeyInfo info = SentinelInfo();
  ASSERT_EQ(Ops().QueryKey(key.Get(), &info), regstatus::kSuccess);
  EXPECT_EQ(info.subKeyCount, 0u);
  EXPECT_EQ(info.maxSubKeyNameLength, 0u);
  EXPECT_EQ(info.valueCount, 0u);
  EXPECT_EQ(info.maxValueNameLength, 0u);
  EXPECT_EQ(info.maxValueDataLength, 0u);
}

TEST_P(RegistryBehaviour, QueryReportsCountsAndLongestNamesInCharacters) {
  // 256 characters is the longest subkey name the real registry holds.
  for (const std::string& name : {std::string("a"), std::string(256, 'k'), std::string("Bravo")}) {
    Fixture().CreateKey(Below(name));
  }
  for (const std::string& name : {std::string("v"), std::string(511, 'n'), std::string(512, 'm')}) {
    Fixture().SetValue(Root(), name, regtype::kDword, {1, 0, 0, 0});
  }

  RegKey key(Ops());
  ASSERT_EQ(key.Open(Root().c_str()), regstatus::kSuccess);
  RegKeyInfo info = SentinelInfo();
  ASSERT_EQ(Ops().QueryKey(key.Get(), &info), regstatus::kSuccess);
  EXPECT_EQ(info.subKeyCount, 3u);
  EXPECT_EQ(info.maxSubKeyNameLength, 256u);
  EXPECT_EQ(info.valueCount, 3u);
  EXPECT_EQ(info.maxValueNameLength, 512u);
  EXPECT_EQ(info.maxValueDataLength, 4u);
}

TEST_P(RegistryBehaviour, QueryReportsTheLongestDataInBytesAsStored) {
  // Strings are stored as UTF-16: two bytes a character, whatever the ANSI caller gave.
  struct Case {
    const char* label;
    std::uint32_t type;
    Bytes data;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"REG_SZ of 255 characters", regtype::kSz, Sz(std::string(255, 'u')), 512},
      {"REG_SZ without terminator", regtype::kSz, Raw("abc"), 6},
      {"empty REG_SZ", regtype::kSz, Sz(""), 2},
      {"REG_EXPAND_SZ", regtype::kExpandSz, Sz("%x%"), 8},
      {"REG_MULTI_SZ", regtype::kMultiSz, Raw(std::string_view("one\0two\0\0", 9)), 18},
      {"REG_DWORD", regtype::kDword, {0x44, 0, 0, 0}, 4},
      {"REG_BINARY of 513 bytes", regtype::kBinary, Bytes(513, 0xB0), 513},
      {"empty REG_BINARY", regtype::kBinary, {}, 0},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = Below("Case" + std::to_string(index++));
    Fixture().SetValue(path, "v", c.type, c.data);
    RegKey key(Ops());
    ASSERT_EQ(key.Open(path.c_str()), regstatus::kSuccess);
    RegKeyInfo info = SentinelInfo();
    ASSERT_EQ(Ops().QueryKey(key.Get(), &info), regstatus::kSuccess);
    EXPECT_EQ(info.valueCount, 1u);
    EXPECT_EQ(info.maxValueNameLength, 1u);
    EXPECT_EQ(info.maxValueDataLength, c.expected);
  }
}

// ---- Enumerating values

TEST_P(RegistryBehaviour, ValueNamesUpTo511CharactersFitThe512ByteBuffer) {
  for (const std::size_t length : {1u, 255u, 511u, 512u, 513u, 1000u}) {
    SCOPED_TRACE("value name of " + std::to_string(length) + " characters");
    const std::string path = Below("Name" + std::to_string(length));
    const std::string name(length, 'n');
    Fixture().SetValue(path, name, regtype::kSz, Sz("x"));
    RegKey key(Ops());
    ASSERT_EQ(key.Open(path.c_str()), regstatus::kSuccess);

    const ValueRead read = ReadValue(Ops(), key.Get(), 0);
    if (length < kRegBufferSize) {
      ASSERT_EQ(read.status, regstatus::kSuccess);
      EXPECT_EQ(read.nameSize, length);
      EXPECT_EQ(read.Name(), name);
      EXPECT_EQ(read.name[length], '\0');
      EXPECT_TRUE(UntouchedFrom(read.name, length + 1));
      EXPECT_EQ(read.Data(), Sz("x"));
    } else {
      EXPECT_EQ(read.status, regstatus::kMoreData);
      EXPECT_TRUE(UntouchedFrom(read.name, kRegBufferSize));
    }
    EXPECT_TRUE(UntouchedFrom(read.data, kRegBufferSize));
  }
}

TEST_P(RegistryBehaviour, ValueDataUpTo512BytesFitsThe512ByteBuffer) {
  struct Case {
    const char* label;
    std::uint32_t type;
    Bytes stored;
    RegStatus status;
    // On success: the bytes the buffer then starts with (a string stored without terminator
    // gets a zero after its data when there is room) and the size reported.
    Bytes written;
    std::uint32_t size;
  };
  const Bytes b512(512, 0xB0), s511(511, 's'), s512(512, 's');
  Bytes s511z = s511;
  s511z.push_back(0);
  Bytes s512z = s512;
  s512z.push_back(0);
  const Case cases[] = {
      {"REG_BINARY of 512 bytes", regtype::kBinary, b512, regstatus::kSuccess, b512, 512},
      {"REG_BINARY of 513 bytes", regtype::kBinary, Bytes(513, 0xB0), regstatus::kMoreData, {}, 0},
      {"REG_SZ of 511 characters and terminator", regtype::kSz, s511z, regstatus::kSuccess, s511z,
       512},
      {"REG_SZ of 512 characters and terminator", regtype::kSz, s512z, regstatus::kMoreData, {}, 0},
      {"REG_SZ of 511 characters without terminator", regtype::kSz, s511, regstatus::kSuccess,
       s511z, 511},
      // No room for a zero after the data: none is written past the buffer.
      {"REG_SZ of 512 characters without terminator", regtype::kSz, s512, regstatus::kSuccess, s512,
       512},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = Below("Data" + std::to_string(index++));
    Fixture().SetValue(path, "v", c.type, c.stored);
    RegKey key(Ops());
    ASSERT_EQ(key.Open(path.c_str()), regstatus::kSuccess);

    const ValueRead read = ReadValue(Ops(), key.Get(), 0);
    EXPECT_EQ(read.status, c.status);
    if (c.status == regstatus::kSuccess) {
      EXPECT_EQ(read.Name(), "v");
      EXPECT_EQ(read.type, c.type);
      EXPECT_EQ(read.dataSize, c.size);
      EXPECT_TRUE(std::equal(c.written.begin(), c.written.end(), read.data.begin()));
      EXPECT_TRUE(UntouchedFrom(read.data, c.written.size()));
    } else {
      EXPECT_TRUE(UntouchedFrom(read.data, kRegBufferSize));
    }
  }
}

TEST_P(RegistryBehaviour, ValueDataReadsBackAsStored) {
  struct Case {
    const char* label;
    std::uint32_t type;
    Bytes stored;
    Bytes written;  // what the buffer starts with afterwards; the size reported is stored.size()
  };
  const Bytes multi = Raw(std::string_view("one\0two\0\0", 9));
  const Bytes embedded = Raw(std::string_view("ab\0cd\0", 6));
  const Case cases[] = {
      {"REG_DWORD as its four bytes", regtype::kDword, {0x44, 0, 0, 0}, {0x44, 0, 0, 0}},
      {"REG_MULTI_SZ whole", regtype::kMultiSz, multi, multi},
      {"REG_SZ with an embedded zero", regtype::kSz, embedded, embedded},
      {"REG_SZ without terminator gets a zero after it", regtype::kSz, Raw("abc"), Sz("abc")},
      {"empty REG_SZ", regtype::kSz, Sz(""), Sz("")},
      {"REG_SZ of no bytes writes nothing", regtype::kSz, {}, {}},
      {"REG_EXPAND_SZ unexpanded", regtype::kExpandSz, Sz("%x%"), Sz("%x%")},
      {"REG_BINARY of no bytes", regtype::kBinary, {}, {}},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = Below("Stored" + std::to_string(index++));
    Fixture().SetValue(path, "Value", c.type, c.stored);
    RegKey key(Ops());
    ASSERT_EQ(key.Open(path.c_str()), regstatus::kSuccess);

    const ValueRead read = ReadValue(Ops(), key.Get(), 0);
    ASSERT_EQ(read.status, regstatus::kSuccess);
    EXPECT_EQ(read.Name(), "Value");
    EXPECT_EQ(read.type, c.type);
    EXPECT_EQ(read.Data(), c.stored);
    EXPECT_TRUE(std::equal(c.written.begin(), c.written.end(), read.data.begin()));
    EXPECT_TRUE(UntouchedFrom(read.data, c.written.size()));
  }
}

TEST_P(RegistryBehaviour, ValuesEnumerateSortedByNameWithoutRegardToCase) {
  // Created out of order. Windows lists values in creation order; the real registry here and
  // the in-memory one sort them.
  // "_" sorts between the upper and the lower case letters: it shows which case they fold to.
  for (const char* name :
       {"delta", "Zulu", "Charlie", "_under", "bravo", "ALPHA", "alpha2", "Alpha1"}) {
    Fixture().SetValue(Root(), name, regtype::kSz, Sz(name));
  }
  RegKey key(Ops());
  ASSERT_EQ(key.Open(Root().c_str()), regstatus::kSuccess);

  std::uint32_t index = 0;
  for (const char* name :
       {"_under", "ALPHA", "Alpha1", "alpha2", "bravo", "Charlie", "delta", "Zulu"}) {
    SCOPED_TRACE(name);
    const ValueRead read = ReadValue(Ops(), key.Get(), index++);
    ASSERT_EQ(read.status, regstatus::kSuccess);
    EXPECT_EQ(read.Name(), name);
    EXPECT_EQ(read.Data(), Sz(name));
  }
  EXPECT_EQ(ReadValue(Ops(), key.Get(), index).status, regstatus::kNoMoreItems);
}

TEST_P(RegistryBehaviour, ValuesPastTheEndGiveNoMoreItemsAndLeaveOutputsUntouched) {
  Fixture().CreateKey(Below("Empty"));
  Fixture().SetValue(Below("Two"), "a", regtype::kSz, Sz("x"));
  Fixture().SetValue(Below("Two"), "b", regtype::kSz, Sz("y"));

  struct Case {
    const char* key;
    std::uint32_t index;
  };
  for (const Case& c :
       {Case{"Empty", 0}, Case{"Empty", 1}, Case{"Two", 2}, Case{"Two", 3}, Case{"Two", 1000}}) {
    SCOPED_TRACE(std::string(c.key) + " index " + std::to_string(c.index));
    RegKey key(Ops());
    ASSERT_EQ(key.Open(Below(c.key).c_str()), regstatus::kSuccess);
    const ValueRead read = ReadValue(Ops(), key.Get(), c.index);
    EXPECT_EQ(read.status, regstatus::kNoMoreItems);
    EXPECT_EQ(read.nameSize, kRegBufferSize);
    EXPECT_EQ(read.dataSize, kRegBufferSize);
    EXPECT_EQ(read.type, kSentinelNumber);
    EXPECT_TRUE(UntouchedFrom(read.name, 0));
    EXPECT_TRUE(UntouchedFrom(read.data, 0));
  }
}

TEST_P(RegistryBehaviour, AValueThatDoesNotFitFailsAloneAndLaterIndexesStillEnumerate) {
  // One key where the name fails, one where the data fails; in both the later value reads.
  Fixture().SetValue(Below("LongName"), "a", regtype::kSz, Sz("first"));
  Fixture().SetValue(Below("LongName"), std::string(512, 'b'), regtype::kSz, Sz("x"));
  Fixture().SetValue(Below("LongName"), "c", regtype::kSz, Sz("last"));
  Fixture().SetValue(Below("LongData"), "a", regtype::kSz, Sz("first"));
  Fixture().SetValue(Below("LongData"), "b", regtype::kBinary, Bytes(513, 1));
  Fixture().SetValue(Below("LongData"), "c", regtype::kSz, Sz("last"));

  for (const char* relative : {"LongName", "LongData"}) {
    SCOPED_TRACE(relative);
    RegKey key(Ops());
    ASSERT_EQ(key.Open(Below(relative).c_str()), regstatus::kSuccess);
    const ValueRead first = ReadValue(Ops(), key.Get(), 0);
    EXPECT_EQ(first.status, regstatus::kSuccess);
    EXPECT_EQ(first.Data(), Sz("first"));
    EXPECT_EQ(ReadValue(Ops(), key.Get(), 1).status, regstatus::kMoreData);
    const ValueRead last = ReadValue(Ops(), key.Get(), 2);
    ASSERT_EQ(last.status, regstatus::kSuccess);
    EXPECT_EQ(last.Name(), "c");
    EXPECT_EQ(last.Data(), Sz("last"));
    EXPECT_EQ(ReadValue(Ops(), key.Get(), 3).status, regstatus::kNoMoreItems);
  }
}

TEST_P(RegistryBehaviour, AValueThatDoesNotFitStillReportsItsTypeAndSize) {
  // Data too long: the type and the size needed come back; neither buffer is written.
  Fixture().SetValue(Below("LongData"), "v", regtype::kBinary, Bytes(513, 1));
  // Name too long: the data, type and size come back, and as much of the name as fits.
  Fixture().SetValue(Below("LongName"), std::string(512, 'm'), regtype::kSz, Sz("y"));

  RegKey key(Ops());
  ASSERT_EQ(key.Open(Below("LongData").c_str()), regstatus::kSuccess);
  const ValueRead longData = ReadValue(Ops(), key.Get(), 0);
  EXPECT_EQ(longData.status, regstatus::kMoreData);
  EXPECT_EQ(longData.type, regtype::kBinary);
  EXPECT_EQ(longData.dataSize, 513u);
  EXPECT_EQ(longData.nameSize, kRegBufferSize);
  EXPECT_TRUE(UntouchedFrom(longData.name, 0));
  EXPECT_TRUE(UntouchedFrom(longData.data, 0));

  ASSERT_EQ(key.Open(Below("LongName").c_str()), regstatus::kSuccess);
  const ValueRead longName = ReadValue(Ops(), key.Get(), 0);
  EXPECT_EQ(longName.status, regstatus::kMoreData);
  EXPECT_EQ(longName.type, regtype::kSz);
  EXPECT_EQ(longName.Data(), Sz("y"));
  EXPECT_EQ(longName.nameSize, kRegBufferSize);
  EXPECT_EQ(std::string(longName.name.data()), std::string(kRegBufferSize - 1, 'm'));
  EXPECT_TRUE(UntouchedFrom(longName.name, kRegBufferSize));
}

// ---- Enumerating subkeys

TEST_P(RegistryBehaviour, SubkeysEnumerateSortedWithoutRegardToCaseAndKeepTheirSpelling) {
  // Names without the characters between 'Z' and 'a' sort the same whether letters are folded
  // to lower case (here) or to upper case (Windows).
  for (const char* name :
       {"delta", "Charlie", "bravo", "ALPHA", "alpha2", "Alpha1", "item9", "item10"}) {
    Fixture().CreateKey(Below(name));
  }
  RegKey key(Ops());
  ASSERT_EQ(key.Open(Root().c_str()), regstatus::kSuccess);

  std::uint32_t index = 0;
  for (const std::string name :
       {"ALPHA", "Alpha1", "alpha2", "bravo", "Charlie", "delta", "item10", "item9"}) {
    SCOPED_TRACE(name);
    const SubkeyRead read = ReadSubkey(Ops(), key.Get(), index++);
    ASSERT_EQ(read.status, regstatus::kSuccess);
    EXPECT_EQ(read.nameSize, name.size());
    EXPECT_EQ(read.Name(), name);
    EXPECT_EQ(read.name[name.size()], '\0');
    EXPECT_TRUE(UntouchedFrom(read.name, name.size() + 1));
  }
}

TEST_P(RegistryBehaviour, ASubkeyNameFitsOnlyWithRoomForItsTerminator) {
  struct Case {
    std::size_t length;
    std::uint32_t bufferSize;
    RegStatus status;
  };
  const Case cases[] = {
      {256, kRegBufferSize, regstatus::kSuccess},
      {256, 257, regstatus::kSuccess},
      {256, 256, regstatus::kMoreData},
      {5, 6, regstatus::kSuccess},
      {5, 5, regstatus::kMoreData},
      {5, 1, regstatus::kMoreData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " characters in " + std::to_string(c.bufferSize) +
                 " bytes");
    const std::string path = Below("Fit" + std::to_string(c.length));
    const std::string name(c.length, 'k');
    Fixture().CreateKey(path + "\\" + name);
    RegKey key(Ops());
    ASSERT_EQ(key.Open(path.c_str()), regstatus::kSuccess);

    const SubkeyRead read = ReadSubkey(Ops(), key.Get(), 0, c.bufferSize);
    EXPECT_EQ(read.status, c.status);
    if (c.status == regstatus::kSuccess) {
      EXPECT_EQ(read.nameSize, c.length);
      EXPECT_EQ(read.Name(), name);
      EXPECT_TRUE(UntouchedFrom(read.name, c.length + 1));
    } else {
      EXPECT_EQ(read.nameSize, c.bufferSize);
      EXPECT_TRUE(UntouchedFrom(read.name, 0));
    }
  }
}

TEST_P(RegistryBehaviour, SubkeysPastTheEndGiveNoMoreItemsAndLeaveOutputsUntouched) {
  Fixture().CreateKey(Below("Empty"));
  Fixture().CreateKey(Below("Two\\a"));
  Fixture().CreateKey(Below("Two\\b"));

  struct Case {
    const char* key;
    std::uint32_t index;
  };
  for (const Case& c : {Case{"Empty", 0}, Case{"Two", 2}, Case{"Two", 3}, Case{"Two", 1000}}) {
    SCOPED_TRACE(std::string(c.key) + " index " + std::to_string(c.index));
    RegKey key(Ops());
    ASSERT_EQ(key.Open(Below(c.key).c_str()), regstatus::kSuccess);
    const SubkeyRead read = ReadSubkey(Ops(), key.Get(), c.index);
    EXPECT_EQ(read.status, regstatus::kNoMoreItems);
    EXPECT_EQ(read.nameSize, kRegBufferSize);
    EXPECT_TRUE(UntouchedFrom(read.name, 0));
  }
}

TEST_P(RegistryBehaviour, ASubkeyThatDoesNotFitFailsAloneAndLaterIndexesStillEnumerate) {
  for (const char* name : {"aa", "bbbbbbbbbb", "cc"}) Fixture().CreateKey(Below(name));
  RegKey key(Ops());
  ASSERT_EQ(key.Open(Root().c_str()), regstatus::kSuccess);

  // A 6-byte buffer holds "aa" and "cc" but not the ten characters between them.
  EXPECT_EQ(ReadSubkey(Ops(), key.Get(), 0, 6).Name(), "aa");
  EXPECT_EQ(ReadSubkey(Ops(), key.Get(), 1, 6).status, regstatus::kMoreData);
  const SubkeyRead last = ReadSubkey(Ops(), key.Get(), 2, 6);
  EXPECT_EQ(last.status, regstatus::kSuccess);
  EXPECT_EQ(last.Name(), "cc");
  EXPECT_EQ(ReadSubkey(Ops(), key.Get(), 3, 6).status, regstatus::kNoMoreItems);
}

// ---- Writing

TEST_P(RegistryBehaviour, SetStringValueStoresTheTextWithItsTerminator) {
  int index = 0;
  for (const std::string& text :
       {std::string("A"), std::string(), std::string(255, 'u'), std::string("Mixed case text")}) {
    SCOPED_TRACE("text of " + std::to_string(text.size()) + " characters");
    const std::string path = Below("Set" + std::to_string(index++));
    Fixture().CreateKey(path);
    RegKey key(Ops());
    ASSERT_EQ(key.Open(path.c_str()), regstatus::kSuccess);
    ASSERT_EQ(Ops().SetStringValue(key.Get(), "DialPrefix", text.c_str()), regstatus::kSuccess);

    const ValueRead read = ReadValue(Ops(), key.Get(), 0);
    ASSERT_EQ(read.status, regstatus::kSuccess);
    EXPECT_EQ(read.Name(), "DialPrefix");
    EXPECT_EQ(read.type, regtype::kSz);
    EXPECT_EQ(read.Data(), Sz(text));
    EXPECT_TRUE(UntouchedFrom(read.data, text.size() + 1));
    RegKeyInfo info = SentinelInfo();
    ASSERT_EQ(Ops().QueryKey(key.Get(), &info), regstatus::kSuccess);
    EXPECT_EQ(info.valueCount, 1u);
    EXPECT_EQ(info.maxValueDataLength, 2 * (text.size() + 1));
  }
}

TEST_P(RegistryBehaviour, SetStringValueReplacesANameInAnyCaseAndKeepsItsStoredSpelling) {
  struct Case {
    const char* stored;
    std::uint32_t type;
    Bytes data;
    const char* written;
  };
  const Case cases[] = {
      {"DIALPREFIX", regtype::kSz, Sz("D"), "DialPrefix"},
      {"dialprefix", regtype::kSz, Sz("D"), "DialPrefix"},
      {"DialPrefix", regtype::kSz, Sz("DDDD"), "DIALPREFIX"},
      {"dialPREFIX", regtype::kDword, {1, 0, 0, 0}, "DialPrefix"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.written) + " over " + c.stored);
    const std::string path = Below("Replace" + std::to_string(index++));
    Fixture().SetValue(path, "Tone", regtype::kSz, Sz("x"));
    Fixture().SetValue(path, c.stored, c.type, c.data);
    RegKey key(Ops());
    ASSERT_EQ(key.Open(path.c_str()), regstatus::kSuccess);
    ASSERT_EQ(Ops().SetStringValue(key.Get(), c.written, "A"), regstatus::kSuccess);

    RegKeyInfo info = SentinelInfo();
    ASSERT_EQ(Ops().QueryKey(key.Get(), &info), regstatus::kSuccess);
    EXPECT_EQ(info.valueCount, 2u);
    const ValueRead read = ReadValue(Ops(), key.Get(), 0);  // "dialprefix" sorts before "tone"
    ASSERT_EQ(read.status, regstatus::kSuccess);
    EXPECT_EQ(read.Name(), c.stored);
    EXPECT_EQ(read.type, regtype::kSz);
    EXPECT_EQ(read.Data(), Sz("A"));
  }
}
