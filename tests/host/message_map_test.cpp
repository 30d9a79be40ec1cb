// Message-map lookup and dispatch: declared order, command matching by id and notification
// code, fall-through to the base class's table and to the default.
#include "framework/message_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr fw::MessageId kMouseMove = 0x0200;
constexpr fw::MessageId kButtonDown = 0x0201;
constexpr fw::MessageId kSysCommand = 0x0112;
constexpr fw::MessageId kBaseOnly = 0x0300;
constexpr unsigned kClicked = 0;
constexpr unsigned kSetFocus = 6;

fw::Message Command(unsigned id, unsigned code, fw::LParam control = 0) {
  return {fw::kCommandMessage, (fw::WParam{code} << 16) | id, control};
}

class BaseTarget : public CCmdTarget {
 public:
  std::vector<std::string> calls;

 protected:
  void OnBaseCommand() { calls.push_back("base:2000"); }
  void OnBaseCommand1000() { calls.push_back("base:1000"); }
  fw::Result OnBaseMessage(fw::WParam, fw::LParam) {
    calls.push_back("base:message");
    return 7;
  }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseTarget, CCmdTarget)
  ON_COMMAND(2000, OnBaseCommand)
  ON_COMMAND(1000, OnBaseCommand1000)
  ON_MESSAGE(kBaseOnly, OnBaseMessage)
END_MESSAGE_MAP()

class DerivedTarget : public BaseTarget {
 private:
  fw::Result OnFirstMove(fw::WParam wParam, fw::LParam lParam) {
    calls.push_back("first:" + std::to_string(wParam) + "," + std::to_string(lParam));
    return 11;
  }
  fw::Result OnSecondMove(fw::WParam, fw::LParam) {
    calls.push_back("second");
    return 22;
  }
  void OnSetFocus1000() { calls.push_back("setfocus:1000"); }
  void OnCommand1000() { calls.push_back("command:1000"); }
  void OnExact1001() { calls.push_back("exact:1001"); }
  void OnRange(unsigned id) { calls.push_back("range:" + std::to_string(id)); }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DerivedTarget, BaseTarget)
  ON_MESSAGE(kMouseMove, OnFirstMove)
  ON_MESSAGE(kMouseMove, OnSecondMove)
  ON_CONTROL(kSetFocus, 1000, OnSetFocus1000)
  ON_COMMAND(1000, OnCommand1000)
  ON_CONTROL(kClicked, 1001, OnExact1001)
  ON_CONTROL_RANGE(kClicked, 1001, 1003, OnRange)
END_MESSAGE_MAP()

// A class that declares a table with no entries: everything goes to its base.
class EmptyTarget : public BaseTarget {
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(EmptyTarget, BaseTarget)
END_MESSAGE_MAP()

constexpr fw::Result kUntouched = 0x5A5A;

struct DispatchCase {
  const char* name;
  fw::Message message;
  bool handled;
  std::vector<std::string> calls;
  fw::Result result;  // kUntouched when not handled
};

class DerivedDispatch : public testing::TestWithParam<DispatchCase> {};

TEST_P(DerivedDispatch, TakesTheFirstMatchingEntryOrNone) {
  const DispatchCase& c = GetParam();
  DerivedTarget target;
  fw::Result result = kUntouched;
  EXPECT_EQ(target.RouteMessage(c.message, result), c.handled);
  EXPECT_EQ(target.calls, c.calls);
  EXPECT_EQ(result, c.result);
}

INSTANTIATE_TEST_SUITE_P(
    MessageMap, DerivedDispatch,
    testing::Values(
        DispatchCase{"FirstOfTwoEntriesWins", {kMouseMove, 3, 4}, true, {"first:3,4"}, 11},
        DispatchCase{"UnlistedMessageFallsThrough", {kButtonDown, 0, 0}, false, {}, kUntouched},
        DispatchCase{
            "ControlEntryMatchesItsCode", Command(1000, kSetFocus), true, {"setfocus:1000"}, 0},
        DispatchCase{
            "DerivedCommandHidesBaseCommand", Command(1000, kClicked), true, {"command:1000"}, 0},
        DispatchCase{"OtherCodeFromListedIdFallsThrough", Command(1000, 5), false, {}, kUntouched},
        DispatchCase{
            "ListedCodeFromOtherIdFallsThrough", Command(999, kSetFocus), false, {}, kUntouched},
        DispatchCase{"ExactEntryBeforeRangeWins", Command(1001, kClicked), true, {"exact:1001"}, 0},
        DispatchCase{"RangeInside", Command(1002, kClicked), true, {"range:1002"}, 0},
        DispatchCase{"RangeLastId", Command(1003, kClicked), true, {"range:1003"}, 0},
        DispatchCase{"AfterRangeFallsThrough", Command(1004, kClicked), false, {}, kUntouched},
        DispatchCase{"RangeWrongCode", Command(1002, kSetFocus), false, {}, kUntouched},
        DispatchCase{
            "ControlHandleDoesNotMatter", Command(1002, kClicked, 0x1234), true, {"range:1002"}, 0},
        DispatchCase{"IdOfOtherMessageIsNoCommand", {kSysCommand, 1000, 0}, false, {}, kUntouched},
        DispatchCase{"BaseCommandReached", Command(2000, kClicked), true, {"base:2000"}, 0},
        DispatchCase{"BaseMessageReached", {kBaseOnly, 0, 0}, true, {"base:message"}, 7}),
    [](const testing::TestParamInfo<DispatchCase>& param) {
      return std::string(param.param.name);
    });

TEST(MessageMap, EmptyTableLeavesEverythingToItsBase) {
  EmptyTarget target;
  fw::Result result = kUntouched;
  EXPECT_TRUE(target.RouteMessage(Command(1000, kClicked), result));
  EXPECT_TRUE(target.RouteMessage(Command(2000, kClicked), result));
  EXPECT_FALSE(target.RouteMessage({kMouseMove, 0, 0}, result));
  EXPECT_EQ(target.calls, (std::vector<std::string>{"base:1000", "base:2000"}));
}

TEST(MessageMap, RootTakesNothing) {
  CCmdTarget root;
  fw::Result result = kUntouched;
  EXPECT_FALSE(root.RouteMessage(Command(1, kClicked), result));
  EXPECT_EQ(result, kUntouched);
}

// The lookup stops at the closing entry even when entries follow it in memory, and a range
// entry's bounds are inclusive at both ends.
TEST(MessageMap, LookupStopsAtTheClosingEntry) {
  struct Target {};
  using Entry = fw::MessageMapEntry<Target>;
  constexpr auto handler = [](Target&, const fw::Message&) -> fw::Result { return 1; };
  const Entry entries[] = {
      {fw::EntryKind::kCommand, fw::kCommandMessage, kClicked, 10, 12, handler},
      {fw::EntryKind::kEnd, 0, 0, 0, 0, nullptr},
      {fw::EntryKind::kMessage, kButtonDown, 0, 0, 0, handler},
  };
  EXPECT_EQ(fw::FindMessageMapEntry<Target>(entries, {kButtonDown, 0, 0}), nullptr);
  for (unsigned id : {9u, 13u}) {
    EXPECT_EQ(fw::FindMessageMapEntry<Target>(entries, Command(id, kClicked)), nullptr) << id;
  }
  for (unsigned id : {10u, 11u, 12u}) {
    EXPECT_EQ(fw::FindMessageMapEntry<Target>(entries, Command(id, kClicked)), &entries[0]) << id;
  }
}

}  // namespace
