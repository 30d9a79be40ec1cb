// The real tool's messages after OK: the restart notice by the Windows version the tool sees,
// and the report of keys that could not be written.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tool_driver.h"
#include "tool_expected.h"

namespace {

// ---- The restart notice: every system of the NT family gets it, the 9x family does not.

struct VersionCase {
  const char* name;  // the version, as Wine's AppDefaults\<exe>\Version spells it
  bool restartNotice;
  friend void PrintTo(const VersionCase& c, std::ostream* out) { *out << c.name; }
};

const VersionCase kVersionCases[] = {
    {"win98", false},  // platform 1, 4.10
    {"nt40", true},    // platform 2, 4.0
    {"winxp", true},   // platform 2, 5.1
    {"win10", true},   // platform 2, 10.0
};

class ToolVersionTest : public ToolTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(ToolVersionTest, RestartNoticeFollowsTheWritesOnNtOnly) {
  const VersionCase& c = GetParam();
  ASSERT_EQ(ImportDemoModem(registry, "D", "D"), "");
  const ScopedWineVersion version(c.name);
  ASSERT_TRUE(version.Ok());

  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");
  tool.PostClick(IDOK);
  const RunEnding ending = tool.FinishPressingOk();

  std::vector<ShownMessage> expected;
  if (c.restartNotice) expected.push_back(kRestartNotice);
  EXPECT_EQ(ending.messages, expected);
  EXPECT_EQ(ending.exitCode, std::optional<DWORD>(0));
  // The writes happen whatever the version.
  EXPECT_EQ(ReadMachineValue(kCcsDemoModem, "DialPrefix"), StringValue("A"));
  EXPECT_EQ(ReadMachineValue(kCs1DemoModem, "DialPrefix"), StringValue("A"));
}

INSTANTIATE_TEST_SUITE_P(Versions, ToolVersionTest, ::testing::ValuesIn(kVersionCases), CaseName());

// ---- Keys that disappear while the dialog is open.

struct DeletedCase {
  const char* name;
  bool deleteCcs;
  bool deleteCs1;
  std::vector<ShownMessage> messages;
  friend void PrintTo(const DeletedCase& c, std::ostream* out) { *out << c.name; }
};

const DeletedCase kDeletedCases[] = {
    // The other key is still written, so the restart notice follows the error.
    {"OneOfTwo", false, true, {FailedWritesError(1, 2), kRestartNotice}},
    // Nothing was written: no restart notice.
    {"BothOfTwo", true, true, {FailedWritesError(2, 2)}},
};

class ToolDeletedKeyTest : public ToolTest, public ::testing::WithParamInterface<DeletedCase> {};

TEST_P(ToolDeletedKeyTest, OkReportsTheKeysItCouldNotWriteAndDoesNotRecreateThem) {
  const DeletedCase& c = GetParam();
  ASSERT_EQ(ImportDemoModem(registry, "D", "D"), "");

  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");
  ASSERT_EQ(tool.StatusText(), kStatusNormal);
  if (c.deleteCcs) {
    ASSERT_EQ(DeleteMachineKey(kCcsDemoModem), ERROR_SUCCESS);
  }
  if (c.deleteCs1) {
    ASSERT_EQ(DeleteMachineKey(kCs1DemoModem), ERROR_SUCCESS);
  }
  tool.PostClick(IDOK);
  const RunEnding ending = tool.FinishPressingOk();

  EXPECT_EQ(ending.messages, c.messages);
  EXPECT_EQ(ending.exitCode, std::optional<DWORD>(0));
  for (const auto& [deleted, keyPath] :
       {std::pair{c.deleteCcs, kCcsDemoModem}, std::pair{c.deleteCs1, kCs1DemoModem}}) {
    if (deleted) {
      EXPECT_FALSE(MachineKeyExists(keyPath)) << keyPath;
    } else {
      EXPECT_EQ(ReadMachineValue(keyPath, "DialPrefix"), StringValue("A")) << keyPath;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(WhileOpen, ToolDeletedKeyTest, ::testing::ValuesIn(kDeletedCases),
                         CaseName());

}  // namespace
