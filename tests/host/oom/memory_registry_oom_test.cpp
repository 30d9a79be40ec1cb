// The six operations of the in-memory registry when an allocation fails inside them: each
// returns kOutOfMemory, throws nothing and changes nothing, at every allocation it makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "platform/memory_registry.h"
#include "tests/support/failing_allocator.h"

namespace {

// A key path long enough that a copy of it needs an allocation of its own.
const std::string kLeaf = "A key path well past any short-string buffer";
const std::string kKey = "SYSTEM\\ControlSet001\\" + kLeaf;
// Another key of the same last name: its failures make every operation fold the whole path of
// its own key and look it up.
const std::string kOther = "Other\\" + kLeaf;

class OutOfMemory : public ::testing::Test {
 protected:
  OutOfMemory() {
    registry.SetString(kKey + "\\Sub", "Value", "text");
    registry.SetString(kKey, "DialPrefix", "D");
    // Failure tables for other keys: every operation must then look its own key up in them.
    registry.DenyAccess(kOther);
    registry.FailQuery(kOther);
    registry.FailSubkeyEnum(kOther, 0);
    registry.FailValueEnum(kOther, 0);
    registry.FailWrite(kOther);
  }
  void TearDown() override {
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
    EXPECT_EQ(registry.BadCloseCount(), 0u);
  }

  // Runs `call` with allocation N failing for N = 0, 1, ... until it runs without a failure,
  // after `prepare` (run with allocation unarmed). `call` returns the operation's status;
  // `unchanged` checks what a failed call must not have changed. Returns the points covered.
  long Sweep(const std::function<void()>& prepare, const std::function<RegStatus()>& call,
             const std::function<void()>& unchanged) {
    for (long point = 0;; ++point) {
      prepare();
      const long thrownBefore = g_failuresThrown;
      g_allocationsUntilFailure = point;
      RegStatus status = regstatus::kGenFailure;
      try {
        status = call();
      } catch (...) {
        g_allocationsUntilFailure = -1;
        ADD_FAILURE() << "an exception left the operation at point " << point;
        return point;
      }
      g_allocationsUntilFailure = -1;
      if (g_failuresThrown == thrownBefore) {
        EXPECT_EQ(status, regstatus::kSuccess);
        return point;
      }
      EXPECT_EQ(status, regstatus::kOutOfMemory) << "point " << point;
      unchanged();
      if (::testing::Test::HasFailure()) return point;
    }
  }

  MemoryRegistry registry;
};

TEST_F(OutOfMemory, OpenIssuesNoHandleAndLeavesTheOutputAlone) {
  RegKeyHandle handle = nullptr;
  const long points = Sweep(
      [&] {
        if (handle != nullptr) registry.CloseKey(handle);
        handle = nullptr;
      },
      [&] { return registry.OpenKey(kKey.c_str(), &handle); },
      [&] {
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(registry.OpenHandleCount(), 0u);
      });
  EXPECT_GE(points, 2);  // the handle table's entry and the copy of the path
  registry.CloseKey(handle);
}

TEST_F(OutOfMemory, QueryAndEnumerationsFailWholeAndWorkAfterwards) {
  RegKey key(registry);
  ASSERT_EQ(key.Open(kKey.c_str()), regstatus::kSuccess);
  char name[kRegBufferSize];
  std::uint8_t data[kRegBufferSize];
  int changes = 0;
  // Each attempt first changes the key, so its listings are built anew inside the call.
  const auto changeKey = [&] {
    registry.SetDword(kKey, "Changed", static_cast<std::uint32_t>(++changes));
    registry.CreateKey(kKey + "\\Sub" + std::to_string(changes));
  };

  // Outputs start as sentinels; a failed call must leave every one of them as it was.
  constexpr std::uint32_t kUntouched = 0xA5A5A5A5u;
  const RegKeyInfo sentinelInfo{kUntouched, kUntouched, kUntouched, kUntouched, kUntouched};
  const auto fillBuffers = [&] {
    std::memset(name, 0xA5, sizeof name);
    std::memset(data, 0xA5, sizeof data);
  };
  const auto buffersUntouched = [&] {
    EXPECT_EQ(std::count(name, name + sizeof name, static_cast<char>(0xA5)),
              static_cast<std::ptrdiff_t>(sizeof name));
    EXPECT_EQ(std::count(data, data + sizeof data, std::uint8_t{0xA5}),
              static_cast<std::ptrdiff_t>(sizeof data));
  };

  RegKeyInfo info;
  EXPECT_GE(Sweep(
                [&] {
                  changeKey();
                  info = sentinelInfo;
                },
                [&] { return registry.QueryKey(key.Get(), &info); },
                [&] {
                  EXPECT_EQ(info.subKeyCount, kUntouched);
                  EXPECT_EQ(info.maxSubKeyNameLength, kUntouched);
                  EXPECT_EQ(info.valueCount, kUntouched);
                  EXPECT_EQ(info.maxValueNameLength, kUntouched);
                  EXPECT_EQ(info.maxValueDataLength, kUntouched);
                }),
            2);
  EXPECT_EQ(info.valueCount, 2u);
  EXPECT_EQ(info.subKeyCount, static_cast<std::uint32_t>(changes + 1));

  // The enumerations allocate only for the listing built anew: the handle worked out its place
  // in the failure tables once, in the queries above.
  std::uint32_t nameSize = 0;
  EXPECT_GE(Sweep(
                [&] {
                  changeKey();
                  fillBuffers();
                  nameSize = kRegBufferSize;
                },
                [&] { return registry.EnumSubkey(key.Get(), 0, name, &nameSize); },
                [&] {
                  EXPECT_EQ(nameSize, kRegBufferSize);
                  buffersUntouched();
                }),
            1);
  EXPECT_STREQ(name, "Sub");

  std::uint32_t dataSize = 0, type = 0;
  EXPECT_GE(
      Sweep(
          [&] {
            changeKey();
            fillBuffers();
            nameSize = dataSize = kRegBufferSize;
            type = kUntouched;
          },
          [&] { return registry.EnumValue(key.Get(), 1, name, &nameSize, &type, data, &dataSize); },
          [&] {
            EXPECT_EQ(nameSize, kRegBufferSize);
            EXPECT_EQ(dataSize, kRegBufferSize);
            EXPECT_EQ(type, kUntouched);
            buffersUntouched();
          }),
      1);
  EXPECT_STREQ(name, "DialPrefix");
  EXPECT_STREQ(reinterpret_cast<const char*>(data), "D");
}

TEST_F(OutOfMemory, FailedWriteLeavesTheValueAndTheLogAsTheyWere) {
  RegKey key(registry);
  ASSERT_EQ(key.Open(kKey.c_str()), regstatus::kSuccess);
  for (const char* name : {"dialprefix", "A new value with a name past the short buffer"}) {
    SCOPED_TRACE(name);
    const auto before = registry.GetValue(kKey, name);
    const std::size_t writesBefore = registry.Writes().size();
    const long points = Sweep(
        [] {},
        [&] { return registry.SetStringValue(key.Get(), name, "A text long enough to allocate"); },
        [&] {
          const auto now = registry.GetValue(kKey, name);
          EXPECT_EQ(now.has_value(), before.has_value());
          if (now && before) {
            EXPECT_EQ(now->data, before->data);
          }
          EXPECT_EQ(registry.Writes().size(), writesBefore);
        });
    EXPECT_GE(points, 3);
    ASSERT_EQ(registry.Writes().size(), writesBefore + 1);
    EXPECT_EQ(registry.Writes().back().text, "A text long enough to allocate");
  }
  EXPECT_EQ(registry.GetValue(kKey, "DIALPREFIX")->name, "DialPrefix");
}

}  // namespace
