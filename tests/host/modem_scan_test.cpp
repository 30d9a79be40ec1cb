// The walk of the three control-set roots and the recognition of modem settings keys.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "scan_fixture.h"

namespace {

const std::string kCcs = "SYSTEM\\CurrentControlSet";
const std::string kCs1 = "SYSTEM\\ControlSet001";
const std::string kCs2 = "SYSTEM\\ControlSet002";
const std::string kCs3 = "SYSTEM\\ControlSet003";

TEST_F(ScanTest, RecordsDescendantsBeforeTheirParentAndRootAfterRoot) {
  // A with subkeys B and C: everything below B, B, everything below C, C, A.
  for (const std::string& root : {kCs3, kCs1, kCcs}) {
    PlantModem(root + "\\A", "D");
    PlantModem(root + "\\A\\B", "A");
    PlantModem(root + "\\A\\B\\B1", "D");
    PlantModem(root + "\\A\\C", "D");
    PlantModem(root + "\\A\\C\\C1", "A");
  }
  Scan();

  std::vector<Record> expected;
  for (const std::string& root : {kCcs, kCs1, kCs3}) {
    expected.insert(expected.end(), {{root + "\\A\\B\\B1", "D"},
                                     {root + "\\A\\B", "A"},
                                     {root + "\\A\\C\\C1", "A"},
                                     {root + "\\A\\C", "D"},
                                     {root + "\\A", "D"}});
  }
  EXPECT_EQ(Records(), expected);
  EXPECT_TRUE(inventory.modemFound);
  EXPECT_TRUE(inventory.normalMode);
}

TEST_F(ScanTest, ControlSetShownAgainBelowCurrentControlSetIsRecordedUnderBothPaths) {
  const std::string modem =
      "\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000\\Settings";
  PlantModem(kCs1 + modem, "D");
  registry.AddAlias(kCcs, kCs1);
  Scan();

  EXPECT_EQ(Records(), (std::vector<Record>{{kCcs + modem, "D"}, {kCs1 + modem, "D"}}));
  EXPECT_TRUE(inventory.modemFound);
  EXPECT_TRUE(inventory.normalMode);
}

TEST_F(ScanTest, NamesAndPrefixMatchWithoutRegardToCase) {
  registry.SetString(kCs1 + "\\Lower", "tone", "");
  registry.SetString(kCs1 + "\\Lower", "pulse", "");
  registry.SetString(kCs1 + "\\Lower", "dialprefix", "a");
  registry.SetString(kCs1 + "\\Upper", "TONE", "x");
  registry.SetString(kCs1 + "\\Upper", "PULSE", "x");
  registry.SetString(kCs1 + "\\Upper", "DIALPREFIX", "d");
  registry.SetString(kCs1 + "\\Zmixed", "ToNe", "x");
  registry.SetString(kCs1 + "\\Zmixed", "pUlSe", "x");
  registry.SetString(kCs1 + "\\Zmixed", "DialPrefix", "a");
  Scan();

  EXPECT_EQ(Records(),
            (std::vector<Record>{
                {kCs1 + "\\Lower", "A"}, {kCs1 + "\\Upper", "D"}, {kCs1 + "\\Zmixed", "A"}}));
  EXPECT_FALSE(inventory.normalMode);
}

TEST_F(ScanTest, KeyLackingOneOfTheThreeValuesIsNotRecorded) {
  registry.SetDword(kCs1 + "\\NoPulse", "TONE", 1);
  registry.SetString(kCs1 + "\\NoPulse", "DIALPREFIX", "D");
  registry.SetDword(kCs1 + "\\NoTone", "PULSE", 1);
  registry.SetString(kCs1 + "\\NoTone", "DIALPREFIX", "D");
  registry.SetDword(kCs1 + "\\NoPrefix", "TONE", 1);
  registry.SetDword(kCs1 + "\\NoPrefix", "PULSE", 1);
  registry.SetString(kCs1 + "\\NoPrefix", "Prefix", "D");
  Scan();

  EXPECT_TRUE(Records().empty());
  EXPECT_FALSE(inventory.modemFound);
}

TEST_F(ScanTest, OnlyAPrefixOfExactlyDOrAQualifies) {
  struct Case {
    const char* key;
    std::vector<std::uint8_t> data;
    std::uint32_t type;
    const char* recorded;  // nullptr: not recorded
  };
  const std::vector<Case> cases = {
      {"Blank", {'D', ' ', 0}, regtype::kSz, nullptr},
      {"Command", {'A', 'T', 'D', 0}, regtype::kSz, nullptr},
      {"Empty", {0}, regtype::kSz, nullptr},
      {"NoData", {}, regtype::kSz, nullptr},
      {"Other", {'P', 0}, regtype::kSz, nullptr},
      {"Leading", {' ', 'A', 0}, regtype::kSz, nullptr},
      {"HighByte", {0xC4, 0}, regtype::kSz, nullptr},
      // Data is text up to its first zero, whatever the value's type.
      {"Unterminated", {'d'}, regtype::kSz, "D"},
      {"ZeroThenMore", {'A', 0, 'X', 'Y'}, regtype::kBinary, "A"},
      {"Dword", {'D', 0, 0, 0}, regtype::kDword, "D"},
      {"Multi", {'a', 0, 'D', 0, 0}, regtype::kMultiSz, "A"},
  };
  std::vector<Record> expected;
  for (const Case& c : cases) {
    const std::string path = kCs1 + "\\" + c.key;
    registry.SetDword(path, "TONE", 1);
    registry.SetDword(path, "PULSE", 1);
    registry.SetValue(path, "DIALPREFIX", c.type, c.data);
    if (c.recorded) expected.emplace_back(path, c.recorded);
  }
  Scan();
  EXPECT_EQ(Records(), InRegistryOrder(expected));
}

TEST_F(ScanTest, LaterKeyDecidesTheMode) {
  PlantModem(kCs1 + "\\First", "D");
  PlantModem(kCs1 + "\\Second", "A");
  Scan();
  EXPECT_EQ(Records().size(), 2u);
  EXPECT_TRUE(inventory.modemFound);
  EXPECT_FALSE(inventory.normalMode);
}

TEST_F(ScanTest, SecondScanAppendsEveryRecordAgain) {
  PlantModem(kCcs + "\\M", "A");
  PlantModem(kCs3 + "\\M", "D");
  Scan();
  const std::vector<Record> once = {{kCcs + "\\M", "A"}, {kCs3 + "\\M", "D"}};
  EXPECT_EQ(Records(), once);
  Scan();
  EXPECT_EQ(
      Records(),
      (std::vector<Record>{
          {kCcs + "\\M", "A"}, {kCs3 + "\\M", "D"}, {kCcs + "\\M", "A"}, {kCs3 + "\\M", "D"}}));
  EXPECT_TRUE(inventory.normalMode);  // the last record found is "D"
}

TEST_F(ScanTest, ModemOnlyInControlSet002IsNeverFound) {
  PlantModem(kCs2 + "\\Control\\Class\\Modem\\0000", "D");
  PlantModem("SYSTEM\\Select\\M", "D");
  Scan();
  EXPECT_TRUE(Records().empty());
  EXPECT_FALSE(inventory.modemFound);
}

TEST_F(ScanTest, RootsThatCannotBeOpenedLeaveTheInventoryEmpty) {
  for (const std::string& root : {kCcs, kCs1, kCs3}) {
    PlantModem(root + "\\M", "D");
    registry.DenyAccess(root);
  }
  Scan();
  EXPECT_TRUE(Records().empty());
  EXPECT_FALSE(inventory.modemFound);

  MemoryRegistry empty;
  ModemInventory emptyInventory;
  emptyInventory.CreateLists();
  ModemScanner(empty, emptyInventory, nameBuffer).ScanModemSettings();
  EXPECT_EQ(emptyInventory.Count(), 0u);
  EXPECT_FALSE(emptyInventory.modemFound);
}

TEST_F(ScanTest, WithoutListsTheScanDoesNothing) {
  PlantModem(kCs1 + "\\M", "D");
  inventory.DestroyLists();
  Scan();
  EXPECT_FALSE(inventory.modemFound);
  EXPECT_EQ(registry.CallCounts().open, 0u);
}

// ---- Limits of the 512-byte buffers.

TEST_F(ScanTest, SubkeyNameOf512CharactersSkipsThatKeysSubkeysOnly) {
  PlantModem(kCs1 + "\\Long512", "D");
  PlantModem(kCs1 + "\\Long512\\Child", "D");
  registry.CreateKey(kCs1 + "\\Long512\\" + std::string(512, 'n'));
  PlantModem(kCs1 + "\\Long511", "A");
  PlantModem(kCs1 + "\\Long511\\Child", "A");
  const std::string name511(511, 'n');
  PlantModem(kCs1 + "\\Long511\\" + name511, "A");
  Scan();

  EXPECT_EQ(Records(), (std::vector<Record>{{kCs1 + "\\Long511\\Child", "A"},
                                            {kCs1 + "\\Long511\\" + name511, "A"},
                                            {kCs1 + "\\Long511", "A"},
                                            {kCs1 + "\\Long512", "D"}}));
}

TEST_F(ScanTest, ValueNameOrDataOf512PassesOverTheKeysValues) {
  struct Case {
    const char* key;
    std::string extraName;
    std::uint32_t type;
    std::size_t dataBytes;
    bool recorded;
  };
  const std::vector<Case> cases = {
      {"Name511", std::string(511, 'v'), regtype::kDword, 4, true},
      {"Name512", std::string(512, 'v'), regtype::kDword, 4, false},
      {"Binary511", "Extra", regtype::kBinary, 511, true},
      {"Binary512", "Extra", regtype::kBinary, 512, false},
      // Strings are sized as stored, two bytes a character: 254 characters and a zero fit,
      // 255 and a zero reach 512.
      {"String254", "Extra", regtype::kSz, 255, true},
      {"String255", "Extra", regtype::kSz, 256, false},
  };
  std::vector<Record> expected;
  for (const Case& c : cases) {
    const std::string path = kCs1 + "\\" + c.key;
    PlantModem(path, "A");
    std::vector<std::uint8_t> data(c.dataBytes, 'x');
    if (c.type == regtype::kSz) data.back() = 0;
    registry.SetValue(path, c.extraName, c.type, data);
    if (c.recorded) expected.emplace_back(path, "A");
  }
  Scan();
  EXPECT_EQ(Records(), InRegistryOrder(expected));
}

// ---- Failures of each operation.

TEST_F(ScanTest, KeyThatCannotBeOpenedIsPassedOverWithItsSubtree) {
  PlantModem(kCs1 + "\\Denied", "D");
  PlantModem(kCs1 + "\\Denied\\Below", "D");
  PlantModem(kCs1 + "\\Open", "A");
  registry.DenyAccess(kCs1 + "\\Denied");
  Scan();
  EXPECT_EQ(Records(), (std::vector<Record>{{kCs1 + "\\Open", "A"}}));
}

TEST_F(ScanTest, FailedQueryPassesOverSubkeysAndValuesButClosesTheKey) {
  PlantModem(kCs1 + "\\Broken", "D");
  PlantModem(kCs1 + "\\Broken\\Below", "D");
  PlantModem(kCs1 + "\\Sound", "A");
  registry.FailQuery(kCs1 + "\\Broken");
  Scan();
  EXPECT_EQ(Records(), (std::vector<Record>{{kCs1 + "\\Sound", "A"}}));
}

TEST_F(ScanTest, FailedSubkeyEnumerationStopsAtThatIndexAndStillInspectsTheKey) {
  PlantModem(kCs1 + "\\Parent", "D");
  PlantModem(kCs1 + "\\Parent\\K0", "A");
  PlantModem(kCs1 + "\\Parent\\K1", "A");
  PlantModem(kCs1 + "\\Parent\\K2", "A");
  registry.FailSubkeyEnum(kCs1 + "\\Parent", 1);
  Scan();
  EXPECT_EQ(Records(),
            (std::vector<Record>{{kCs1 + "\\Parent\\K0", "A"}, {kCs1 + "\\Parent", "D"}}));
}

TEST_F(ScanTest, FailedValueEnumerationKeepsWhatWasSeenBeforeIt) {
  // Values enumerate sorted: DIALPREFIX, (Extra,) PULSE, TONE, (Zulu). A failed enumeration
  // ends the key's inspection: what came before it counts, nothing after it is read.
  struct Case {
    const char* key;
    const char* extra;  // another value of the key, or nullptr
    std::uint32_t failingIndex;
    bool recorded;
  };
  const Case cases[] = {
      {"FailsAtTone", nullptr, 2, false},
      {"FailsBeforePulseAndTone", "Extra", 1, false},  // both would still follow
      {"FailsAtTheFirstValue", "Extra", 0, false},
      {"FailsAfterAll", "Zulu", 3, true},
  };
  std::vector<Record> expected;
  for (const Case& c : cases) {
    const std::string path = kCs1 + "\\" + c.key;
    PlantModem(path, "A");
    if (c.extra != nullptr) registry.SetDword(path, c.extra, 1);
    registry.FailValueEnum(path, c.failingIndex);
    if (c.recorded) expected.emplace_back(path, "A");
  }
  Scan();
  EXPECT_EQ(Records(), expected);
}

TEST_F(ScanTest, KeyRemovedBetweenWalkAndInspectionIsPassedOver) {
  // The inspection opens the key again by its path; a key that cannot be opened then is
  // simply not recorded.
  PlantModem(kCs1 + "\\M", "D");
  registry.DenyAccess(kCs1 + "\\M");
  Scanner().InspectKeyValues(kCs1 + "\\M");
  EXPECT_TRUE(Records().empty());
}

// ---- Names holding zero bytes.

TEST_F(ScanTest, SubkeyWhoseNameHoldsAZeroByteIsPassedOver) {
  // A path ends at its first zero byte, so such a name cannot be opened by its path: it would
  // spell another key, its parent itself when the name starts with zero, and the walk would
  // revisit the parent under a malformed path at every level down to the depth bound.
  const std::string parent = kCs1 + "\\Parent";
  PlantModem(parent + "\\M", "D");
  PlantModem(parent + "\\x", "A");
  for (const std::string& name : {std::string("\0hidden", 7), std::string("x\0y", 3)}) {
    PlantModem(parent + "\\" + name, "D");
    PlantModem(parent + "\\" + name + "\\Below", "D");
  }
  Scan();
  EXPECT_EQ(Records(), (std::vector<Record>{{parent + "\\M", "D"}, {parent + "\\x", "A"}}));
}

TEST_F(ScanTest, ValueWhoseNameHoldsAZeroByteIsNotTheValueBeforeTheZero) {
  // "DialPrefix\0x" and "Tone\0x" are values of their own: a key whose only prefix or tone
  // value is spelled so is no modem settings key.
  const std::string prefixKey = kCs1 + "\\FakePrefix";
  registry.SetDword(prefixKey, "TONE", 1);
  registry.SetDword(prefixKey, "PULSE", 1);
  registry.SetString(prefixKey, std::string("DialPrefix\0x", 12), "D");
  const std::string toneKey = kCs1 + "\\FakeTone";
  registry.SetDword(toneKey, std::string("Tone\0x", 6), 1);
  registry.SetDword(toneKey, "PULSE", 1);
  registry.SetString(toneKey, "DialPrefix", "D");
  PlantModem(kCs1 + "\\Sound", "A");
  Scan();
  EXPECT_EQ(Records(), (std::vector<Record>{{kCs1 + "\\Sound", "A"}}));
}

// ---- Links and depth.

TEST_F(ScanTest, LinkToItsOwnAncestorEndsAtTheDepthBoundWithoutCrashing) {
  PlantModem(kCs1 + "\\Loop\\M", "D");
  registry.AddAlias(kCs1 + "\\Loop\\Back", kCs1 + "\\Loop");
  Scan();

  // The walk goes down Loop\Back\Back\... until the bound, recording M at every level on the
  // way back up: the deepest first, Loop\M last.
  const std::vector<Record> records = Records();
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kMaxWalkDepth - 1));
  EXPECT_EQ(records.back(), Record(kCs1 + "\\Loop\\M", "D"));
  const std::string& deepest = records.front().first;
  // One backslash inside the root, then one for each level below it.
  EXPECT_EQ(std::count(deepest.begin(), deepest.end(), '\\'), 1 + kMaxWalkDepth);
}

TEST_F(ScanTest, TwoLinksBackToOneAncestorStopAtTheKeyBudgetAndTheNextRootIsWalked) {
  // Each level offers two ways back up, so the keys reachable double with every level: only
  // the budget of keys per root ends this walk.
  PlantModem(kCs1 + "\\Loop\\M", "D");
  registry.AddAlias(kCs1 + "\\Loop\\Back1", kCs1 + "\\Loop");
  registry.AddAlias(kCs1 + "\\Loop\\Back2", kCs1 + "\\Loop");
  PlantModem(kCs3 + "\\After", "A");
  constexpr std::size_t kBudget = 1000;
  ModemScanner(registry, inventory, nameBuffer, kBudget).ScanModemSettings();

  EXPECT_LE(registry.CallCounts().open, 2 * kBudget + 2);  // walk and inspection opens
  ASSERT_FALSE(Records().empty());
  EXPECT_EQ(Records().back(), Record(kCs3 + "\\After", "A"));
  EXPECT_FALSE(inventory.normalMode);
}

TEST_F(ScanTest, KeyBudgetIsFarAboveAWholeControlSet) {
  // A large control set holds a few hundred thousand keys; the budget must never cut one short.
  EXPECT_GE(kMaxKeysPerRoot, std::size_t{2'000'000});
  // And a walk of exactly the budget's size is whole.
  for (int i = 0; i < 9; ++i) PlantModem(kCs1 + "\\K" + std::to_string(i), "D");
  ModemScanner(registry, inventory, nameBuffer, 10).ScanModemSettings();  // root + 9 keys
  EXPECT_EQ(Records().size(), 9u);
}

TEST_F(ScanTest, TreeAsDeepAsTheBoundIsWalkedWhole) {
  std::string path = kCs1;
  for (int level = 1; level <= kMaxWalkDepth; ++level) path += "\\L";
  PlantModem(path, "A");
  PlantModem(path + "\\TooDeep", "D");
  Scan();
  EXPECT_EQ(Records(), (std::vector<Record>{{path, "A"}}));
}

}  // namespace
