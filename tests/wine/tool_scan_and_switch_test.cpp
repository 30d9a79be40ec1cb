// The real tool on the real registry: what its dialog shows after the scan, and what OK and
// Cancel leave in the registry and on the screen.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/memory_registry.h"
#include "tool_driver.h"
#include "tool_expected.h"

namespace {

std::optional<RegistryValue> DialPrefixAt(const std::string& keyPath) {
  return ReadMachineValue(keyPath, "DialPrefix");
}

// ---- One modem seen through two control sets: status, pre-selection, and what OK writes.

struct SwitchCase {
  const char* name;
  const char* ccsPrefix;  // the first key found
  const char* cs1Prefix;  // the last key found: it decides the status and the pre-selection
  const char* status;
  UINT secureChecked, normalChecked;
  int userClicks;  // a radio button the user clicks before OK; 0: none
  const char* ccsAfter;
  const char* cs1After;
  bool restartNotice;
  friend void PrintTo(const SwitchCase& c, std::ostream* out) { *out << c.name; }
};

// A prefix in lower case is recognised like its upper case, and a key left alone keeps it:
// it shows which keys were not rewritten.
const SwitchCase kSwitchCases[] = {
    {"TypicalNormalToSecure", "D", "D", kStatusNormal, BST_CHECKED, BST_UNCHECKED, 0, "A", "A",
     true},
    {"BothSecureToNormal", "A", "A", kStatusSecure, BST_UNCHECKED, BST_CHECKED, 0, "D", "D", true},
    {"LastSecureOnlyItIsWritten", "d", "A", kStatusSecure, BST_UNCHECKED, BST_CHECKED, 0, "d", "D",
     true},
    {"LastNormalOnlyItIsWritten", "a", "D", kStatusNormal, BST_CHECKED, BST_UNCHECKED, 0, "a", "A",
     true},
    {"UserChoosesTheCurrentMode", "D", "D", kStatusNormal, BST_CHECKED, BST_UNCHECKED, kRadioNormal,
     "D", "D", false},
    {"UserChoosesAgainstPreselection", "d", "a", kStatusSecure, BST_UNCHECKED, BST_CHECKED,
     kRadioSecure, "A", "a", true},
};

class ToolSwitchTest : public ToolTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(ToolSwitchTest, ShowsTheLastKeysModeAndOkWritesTheChosenOne) {
  const SwitchCase& c = GetParam();
  ASSERT_EQ(ImportDemoModem(registry, c.ccsPrefix, c.cs1Prefix), "");

  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");
  EXPECT_EQ(tool.StatusText(), c.status);
  EXPECT_EQ(tool.CheckState(kRadioSecure), c.secureChecked);
  EXPECT_EQ(tool.CheckState(kRadioNormal), c.normalChecked);

  if (c.userClicks != 0) tool.PostClick(c.userClicks);
  tool.PostClick(IDOK);
  const RunEnding ending = tool.FinishPressingOk();

  std::vector<ShownMessage> expected;
  if (c.restartNotice) expected.push_back(kRestartNotice);
  EXPECT_EQ(ending.messages, expected);
  EXPECT_EQ(ending.exitCode, std::optional<DWORD>(0));
  EXPECT_EQ(DialPrefixAt(kCcsDemoModem), StringValue(c.ccsAfter));
  EXPECT_EQ(DialPrefixAt(kCs1DemoModem), StringValue(c.cs1After));
}

INSTANTIATE_TEST_SUITE_P(Demo, ToolSwitchTest, ::testing::ValuesIn(kSwitchCases), CaseName());

TEST_F(ToolTest, CancelWritesNothingAndShowsNoMessage) {
  ASSERT_EQ(ImportDemoModem(registry, "D", "A"), "");

  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");
  EXPECT_EQ(tool.CheckState(kRadioNormal), static_cast<UINT>(BST_CHECKED));
  tool.PostClick(IDCANCEL);
  const RunEnding ending = tool.FinishPressingOk();

  EXPECT_EQ(ending.messages, std::vector<ShownMessage>{});
  EXPECT_EQ(ending.exitCode, std::optional<DWORD>(0));
  EXPECT_EQ(DialPrefixAt(kCcsDemoModem), StringValue("D"));
  EXPECT_EQ(DialPrefixAt(kCs1DemoModem), StringValue("A"));
}

// ---- The control-set roots: keys below CurrentControlSet, 001 and 003 are found; 002 never.

const std::string kScanFixture = "\\Control\\ScanFixture";
const std::string kCcsFixture = "SYSTEM\\CurrentControlSet" + kScanFixture;

struct RootsCase {
  const char* name;
  int userClicks;
  // DialPrefix afterwards, per key of scan_roots.reg.
  std::vector<std::pair<std::string, const char*>> after;
  friend void PrintTo(const RootsCase& c, std::ostream* out) { *out << c.name; }
};

const RootsCase kRootsCases[] = {
    // The last key found (below 003) is "A": normal operation is pre-selected, and the two "A"
    // keys are written.
    {"Preselected",
     0,
     {{kCcsFixture + "\\Modem\\Inner", "D"},
      {kCcsFixture + "\\Modem", "D"},
      {kCcsFixture + "\\NotAModem", "D"},
      {"SYSTEM\\ControlSet001" + kScanFixture + "\\Modem", "d"},
      {"SYSTEM\\ControlSet001" + kScanFixture + "\\WrongPrefix", "ATD"},
      {"SYSTEM\\ControlSet002" + kScanFixture + "\\Modem", "D"},
      {"SYSTEM\\ControlSet003" + kScanFixture + "\\Modem", "D"}}},
    // Secure access chosen instead: every "D" key found is written, the one below 002 is not.
    {"SecureChosen",
     kRadioSecure,
     {{kCcsFixture + "\\Modem\\Inner", "a"},
      {kCcsFixture + "\\Modem", "A"},
      {kCcsFixture + "\\NotAModem", "D"},
      {"SYSTEM\\ControlSet001" + kScanFixture + "\\Modem", "A"},
      {"SYSTEM\\ControlSet001" + kScanFixture + "\\WrongPrefix", "ATD"},
      {"SYSTEM\\ControlSet002" + kScanFixture + "\\Modem", "D"},
      {"SYSTEM\\ControlSet003" + kScanFixture + "\\Modem", "A"}}},
};

class ToolRootsTest : public ToolTest, public ::testing::WithParamInterface<RootsCase> {};

TEST_P(ToolRootsTest, OkWritesTheKeysFoundBelowTheThreeRootsOnly) {
  const RootsCase& c = GetParam();
  ASSERT_EQ(registry.ImportFile("scan_roots.reg"), "");

  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");
  EXPECT_EQ(tool.StatusText(), kStatusSecure);
  EXPECT_EQ(tool.CheckState(kRadioSecure), static_cast<UINT>(BST_UNCHECKED));
  EXPECT_EQ(tool.CheckState(kRadioNormal), static_cast<UINT>(BST_CHECKED));

  if (c.userClicks != 0) tool.PostClick(c.userClicks);
  tool.PostClick(IDOK);
  const RunEnding ending = tool.FinishPressingOk();

  EXPECT_EQ(ending.messages, std::vector<ShownMessage>{kRestartNotice});
  EXPECT_EQ(ending.exitCode, std::optional<DWORD>(0));
  for (const auto& [keyPath, prefix] : c.after) {
    EXPECT_EQ(DialPrefixAt(keyPath), StringValue(prefix)) << keyPath;
  }
}

INSTANTIATE_TEST_SUITE_P(ScanRoots, ToolRootsTest, ::testing::ValuesIn(kRootsCases), CaseName());

// ---- Nothing found: keys that come close to a modem's settings, none of which qualifies.

struct NothingFoundCase {
  const char* name;
  int button;
  std::vector<ShownMessage> messages;
  friend void PrintTo(const NothingFoundCase& c, std::ostream* out) { *out << c.name; }
};

const NothingFoundCase kNothingFoundCases[] = {
    {"Ok", IDOK, {kNoModemError}},
    {"Cancel", IDCANCEL, {}},
};

class ToolNothingFoundTest : public ToolTest,
                             public ::testing::WithParamInterface<NothingFoundCase> {};

TEST_P(ToolNothingFoundTest, ShowsNoModeAndWritesNothing) {
  const NothingFoundCase& c = GetParam();
  const std::string noPulse = kCcsFixture + "\\NoPulse";
  const std::string longPrefix = kCcsFixture + "\\LongPrefix";
  const std::string unscanned = "SYSTEM\\ControlSet002" + kScanFixture + "\\Modem";
  MemoryRegistry tree;
  tree.SetString(noPulse, "Tone", "T");
  tree.SetString(noPulse, "DialPrefix", "D");
  for (const std::string& path : {longPrefix, unscanned}) {
    tree.SetString(path, "Tone", "T");
    tree.SetString(path, "Pulse", "P");
  }
  tree.SetString(longPrefix, "DialPrefix", "AT");
  tree.SetString(unscanned, "DialPrefix", "D");
  ASSERT_EQ(registry.Import(tree), "");

  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");
  EXPECT_EQ(tool.StatusText(), kStatusNone);
  EXPECT_EQ(tool.CheckState(kRadioSecure), static_cast<UINT>(BST_UNCHECKED));
  EXPECT_EQ(tool.CheckState(kRadioNormal), static_cast<UINT>(BST_UNCHECKED));

  tool.PostClick(c.button);
  const RunEnding ending = tool.FinishPressingOk();

  EXPECT_EQ(ending.messages, c.messages);
  EXPECT_EQ(ending.exitCode, std::optional<DWORD>(0));
  EXPECT_EQ(DialPrefixAt(noPulse), StringValue("D"));
  EXPECT_EQ(DialPrefixAt(longPrefix), StringValue("AT"));
  EXPECT_EQ(DialPrefixAt(unscanned), StringValue("D"));
}

INSTANTIATE_TEST_SUITE_P(NearMisses, ToolNothingFoundTest, ::testing::ValuesIn(kNothingFoundCases),
                         CaseName());

}  // namespace
