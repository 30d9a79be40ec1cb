// Switching the recorded modem keys to the chosen mode, and what the user is told.
#include <optional>
#include <string>
#include <vector>

#include "scan_fixture.h"
#include "switching/dial_prefix_switch.h"

namespace {

const std::string kCcs = "SYSTEM\\CurrentControlSet";
const std::string kCs1 = "SYSTEM\\ControlSet001";

int g_versionQueries = 0;
std::optional<PlatformVersion> g_version;
std::optional<PlatformVersion> FakeVersion() {
  ++g_versionQueries;
  return g_version;
}

class SwitchTest : public ScanTest {
 protected:
  SwitchTest() {
    g_versionQueries = 0;
    g_version = PlatformVersion{kPlatformWin32Nt, 10, 0};
  }

  SwitchResult Switch(std::optional<TargetMode> target) {
    return SwitchModems(registry, inventory, target, &FakeVersion);
  }

  std::vector<std::string> WrittenPaths() const {
    std::vector<std::string> paths;
    for (const auto& write : registry.Writes()) paths.push_back(write.path);
    return paths;
  }

  std::string StoredPrefix(const std::string& path) const {
    const auto value = registry.GetValue(path, "DialPrefix");
    if (!value) return "<missing>";
    return std::string(value->data.begin(), value->data.end());
  }
};

const std::vector<Notice> kRestartOnly = {{"Configuration Complete",
                                           "Changes will not take effect until after you "
                                           "have restarted your PC."}};

TEST_F(SwitchTest, WritesOnlyKeysInTheOtherModeAsTwoByteStrings) {
  PlantModem(kCs1 + "\\Normal", "D");
  PlantModem(kCs1 + "\\Secure", "A");
  Scan();
  const std::vector<Record> before = Records();

  const SwitchResult result = Switch(TargetMode::kSecureAccess);

  EXPECT_EQ(WrittenPaths(), std::vector<std::string>{kCs1 + "\\Normal"});
  const auto stored = registry.GetValue(kCs1 + "\\Normal", "DialPrefix");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, regtype::kSz);
  EXPECT_EQ(stored->data, (std::vector<std::uint8_t>{'A', 0}));
  EXPECT_EQ(result.outcome.writesTried, 1u);
  EXPECT_EQ(result.notices, kRestartOnly);
  EXPECT_EQ(Records(), before);  // the inventory is not updated
}

TEST_F(SwitchTest, NormalOperationWritesDIntoSecureKeys) {
  PlantModem(kCs1 + "\\Normal", "D");
  PlantModem(kCs1 + "\\Secure", "a");
  Scan();
  Switch(TargetMode::kNormalOperation);
  EXPECT_EQ(WrittenPaths(), std::vector<std::string>{kCs1 + "\\Secure"});
  EXPECT_EQ(StoredPrefix(kCs1 + "\\Secure"), std::string("D\0", 2));
}

TEST_F(SwitchTest, EveryKeyAlreadyInTheTargetModeMeansNoWriteAndNoNotice) {
  PlantModem(kCs1 + "\\One", "A");
  PlantModem(kCs1 + "\\Two", "A");
  Scan();
  const SwitchResult result = Switch(TargetMode::kSecureAccess);
  EXPECT_TRUE(registry.Writes().empty());
  EXPECT_TRUE(result.notices.empty());
  EXPECT_EQ(g_versionQueries, 0);
}

TEST_F(SwitchTest, KeyRecordedUnderTwoPathsIsWrittenThroughEach) {
  PlantModem(kCs1 + "\\Modem", "D");
  registry.AddAlias(kCcs, kCs1);
  Scan();
  const SwitchResult result = Switch(TargetMode::kSecureAccess);
  EXPECT_EQ(WrittenPaths(), (std::vector<std::string>{kCcs + "\\Modem", kCs1 + "\\Modem"}));
  EXPECT_EQ(result.notices, kRestartOnly);
  EXPECT_EQ(g_versionQueries, 1);  // asked once, after all the writes
}

TEST_F(SwitchTest, ReplacesThePrefixValueWhateverTheCaseOfItsStoredName) {
  const std::vector<std::string> spellings = {"DIALPREFIX", "dialprefix", "DialPrefix",
                                              "dIaLpReFiX"};
  for (std::size_t i = 0; i < spellings.size(); ++i) {
    const std::string path = kCs1 + "\\K" + std::to_string(i);
    registry.SetDword(path, "TONE", 1);
    registry.SetDword(path, "PULSE", 1);
    registry.SetString(path, spellings[i], "D");
  }
  Scan();
  ASSERT_EQ(inventory.Count(), spellings.size());
  Switch(TargetMode::kSecureAccess);
  for (std::size_t i = 0; i < spellings.size(); ++i) {
    const std::string path = kCs1 + "\\K" + std::to_string(i);
    ASSERT_EQ(registry.Values(path).size(), 3u) << spellings[i];  // replaced, not joined
    const auto prefix = registry.GetValue(path, "DialPrefix");
    ASSERT_TRUE(prefix);
    EXPECT_EQ(prefix->name, spellings[i]);  // the stored spelling is kept
    EXPECT_EQ(prefix->data, (std::vector<std::uint8_t>{'A', 0}));
  }
}

TEST_F(SwitchTest, FailedWriteIsReportedAndTheOthersAreStillWritten) {
  PlantModem(kCs1 + "\\K1", "D");
  PlantModem(kCs1 + "\\K2", "D");
  PlantModem(kCs1 + "\\K3", "D");
  Scan();
  registry.FailWrite(kCs1 + "\\K2");
  const SwitchResult result = Switch(TargetMode::kSecureAccess);

  EXPECT_EQ(WrittenPaths(), (std::vector<std::string>{kCs1 + "\\K1", kCs1 + "\\K3"}));
  EXPECT_EQ(StoredPrefix(kCs1 + "\\K2"), std::string("D\0", 2));
  EXPECT_EQ(result.outcome.writesTried, 3u);
  EXPECT_EQ(result.outcome.writesFailed, 1u);
  const std::vector<Notice> expected = {
      {"Error Detected",
       "The dial prefix could not be changed for 1 of the 3 modem settings keys found in the "
       "Registry.  Please verify that you have administrator rights and that your modem is "
       "still installed."},
      kRestartOnly.front()};
  EXPECT_EQ(result.notices, expected);
}

TEST_F(SwitchTest, KeyRemovedAfterTheScanCountsAsAFailedWrite) {
  PlantModem(kCs1 + "\\Gone", "D");
  PlantModem(kCs1 + "\\Kept", "D");
  Scan();
  ASSERT_TRUE(registry.DeleteKey(kCs1 + "\\Gone"));
  const SwitchResult result = Switch(TargetMode::kSecureAccess);
  EXPECT_FALSE(registry.KeyExists(kCs1 + "\\Gone"));  // a write never creates a key
  EXPECT_EQ(WrittenPaths(), std::vector<std::string>{kCs1 + "\\Kept"});
  EXPECT_EQ(result.outcome.writesFailed, 1u);
  EXPECT_EQ(result.notices.size(), 2u);
}

TEST_F(SwitchTest, EveryWriteFailingShowsTheReportButNoRestartNotice) {
  PlantModem(kCs1 + "\\K1", "A");
  PlantModem(kCs1 + "\\K2", "A");
  Scan();
  registry.DenyAccess(kCs1 + "\\K1");
  registry.FailWrite(kCs1 + "\\K2");
  const SwitchResult result = Switch(TargetMode::kNormalOperation);
  ASSERT_EQ(result.notices.size(), 1u);
  EXPECT_EQ(result.notices[0].caption, "Error Detected");
  EXPECT_NE(result.notices[0].text.find("for 2 of the 2 modem"), std::string::npos);
  EXPECT_EQ(g_versionQueries, 0);
}

TEST_F(SwitchTest, NoModemRecordedGivesTheErrorMessageAndWritesNothing) {
  Scan();
  const SwitchResult result = Switch(TargetMode::kSecureAccess);
  const std::vector<Notice> expected = {
      {"Error Detected",
       "A valid modem configuration was not found in the Registry.  Please verify that your "
       "modem is properly installed.\nNote: only modems that use the Hayes AT command set are "
       "supported."}};
  EXPECT_EQ(result.notices, expected);
  EXPECT_EQ(registry.CallCounts().setValue, 0u);
}

TEST_F(SwitchTest, NoModeChosenWritesNothingAndSaysNothing) {
  PlantModem(kCs1 + "\\M", "D");
  Scan();
  const SwitchResult result = Switch(std::nullopt);
  EXPECT_TRUE(result.notices.empty());
  EXPECT_EQ(registry.CallCounts().setValue, 0u);
}

TEST_F(SwitchTest, RestartNoticeOnEveryNtVersionAndNowhereElse) {
  struct Case {
    std::optional<PlatformVersion> version;
    bool notice;
  };
  const std::vector<Case> cases = {
      {PlatformVersion{2, 4, 0}, true},    // NT 4.0
      {PlatformVersion{2, 5, 1}, true},    // XP
      {PlatformVersion{2, 6, 1}, true},    // 7
      {PlatformVersion{2, 10, 0}, true},   // 10
      {PlatformVersion{1, 4, 10}, false},  // 98
      {PlatformVersion{0, 3, 10}, false},  // Win32s
      {std::nullopt, false},               // the query failed
  };
  PlantModem(kCs1 + "\\M", "D");
  Scan();
  for (const Case& c : cases) {
    g_version = c.version;
    const SwitchResult result = Switch(TargetMode::kSecureAccess);
    EXPECT_EQ(result.notices == kRestartOnly, c.notice);
    EXPECT_EQ(result.notices.empty(), !c.notice);
  }
}

TEST_F(SwitchTest, WriteStringValueReturnsTheStatusOfTheStepThatFailed) {
  registry.CreateKey(kCs1 + "\\Writable");
  registry.CreateKey(kCs1 + "\\Refused");
  registry.FailWrite(kCs1 + "\\Refused", regstatus::kAccessDenied);
  EXPECT_EQ(WriteStringValue(registry, kCs1 + "\\Writable", "DialPrefix", "A"),
            regstatus::kSuccess);
  EXPECT_EQ(WriteStringValue(registry, kCs1 + "\\Missing", "DialPrefix", "A"),
            regstatus::kFileNotFound);
  EXPECT_EQ(WriteStringValue(registry, kCs1 + "\\Refused", "DialPrefix", "A"),
            regstatus::kAccessDenied);
  EXPECT_FALSE(registry.KeyExists(kCs1 + "\\Missing"));
}

}  // namespace
