// The hive registry beyond the six operations (those are in the behaviour suite): which control
// set CurrentControlSet is, the scan and the switch on a hive, the safe write-back and the files
// it refuses.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <hivex.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "discovery/modem_inventory.h"
#include "discovery/modem_scan.h"
#include "platform/hive_registry.h"
#include "switching/dial_prefix_switch.h"
#include "tests/common/hive_fixture.h"

namespace {

using Record = std::pair<std::string, std::string>;  // key path, dial prefix

constexpr char kModems[] = "Control\\Class\\Modem\\";

std::string FixturePath(const char* name) {
  return std::string(MODEMCONFIG_FIXTURES_DIR) + "/" + name;
}

class HiveTest : public ::testing::Test {
 protected:
  // Writes the offline fixture as a hive file with the given Select\Current.
  std::string MakeHive(std::optional<std::uint32_t> current, const char* name = "SYSTEM") {
    MemoryRegistry source;
    source.LoadRegFile(FixturePath("offline_system.reg"));
    const std::string path = folder.File(name);
    BuildHive(path, source, current);
    return path;
  }

  static std::vector<Record> Scan(HiveRegistry& hive) {
    ModemInventory inventory;
    inventory.CreateLists();
    NameBuffer nameBuffer{};
    ModemScanner(hive, inventory, nameBuffer).ScanModemSettings();
    std::vector<Record> records;
    for (std::size_t i = 0; i < inventory.Count(); ++i) {
      records.emplace_back(inventory.keyPaths->GetAt(i), inventory.dialPrefixes->GetAt(i));
    }
    EXPECT_EQ(hive.OpenHandleCount(), 0u);
    return records;
  }

  // Opens the hive for writing, scans, switches every modem to secure access in memory.
  static std::unique_ptr<HiveRegistry> SwitchToSecure(const std::string& path) {
    auto hive = OpenHive(path, HiveAccess::kWrite);
    ModemInventory inventory;
    inventory.CreateLists();
    NameBuffer nameBuffer{};
    ModemScanner(*hive, inventory, nameBuffer).ScanModemSettings();
    const SwitchOutcome outcome = WriteTargetPrefix(*hive, inventory, TargetMode::kSecureAccess);
    EXPECT_GT(outcome.WritesSucceeded(), 0u);
    EXPECT_EQ(outcome.writesFailed, 0u);
    EXPECT_EQ(hive->OpenHandleCount(), 0u);
    return hive;
  }

  TempFolder folder;
};

// ---- CurrentControlSet and the scan.

TEST_F(HiveTest, TheScanWalksTheControlSetThatSelectDefaultNamesAsCurrentControlSet) {
  const std::string ccs = "SYSTEM\\CurrentControlSet\\";
  const std::string cs1 = "SYSTEM\\ControlSet001\\";
  const std::string cs3 = "SYSTEM\\ControlSet003\\";
  const std::vector<Record> rest = {
      {cs1 + kModems + "0000", "D"}, {cs1 + kModems + "0001", "A"}, {cs3 + kModems + "0000", "D"}};
  const auto with = [&](std::vector<Record> first) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
  };
  const std::vector<Record> set1 =
      with({{ccs + kModems + "0000", "D"}, {ccs + kModems + "0001", "A"}});
  const std::vector<Record> set2 = with({{ccs + kModems + "0000", "A"}});
  const std::vector<Record> set3 = with({{ccs + kModems + "0000", "D"}});
  // The fixture's Select\LastKnownGood is 3.
  struct Case {
    std::optional<std::uint32_t> byDefault;
    std::optional<std::uint32_t> current;
    std::optional<std::uint32_t> mapped;
    const char* note;
    std::vector<Record> records;
  };
  const Case cases[] = {
      {1, 1, 1,
       "CurrentControlSet is ControlSet001 (Select\\Default = 1, the set Windows starts from); "
       "the fallback is ControlSet003 (Select\\LastKnownGood = 3)",
       set1},
      {3, 3, 3,
       "CurrentControlSet is ControlSet003 (Select\\Default = 3, the set Windows starts from)",
       set3},
      // Windows starts from Default, whatever the last boot used.
      {2, 1, 2,
       "CurrentControlSet is ControlSet002 (Select\\Default = 2, the set Windows starts from); "
       "the last boot used ControlSet001 (Select\\Current = 1); the fallback is ControlSet003 "
       "(Select\\LastKnownGood = 3)",
       set2},
      {1, 2, 1,
       "CurrentControlSet is ControlSet001 (Select\\Default = 1, the set Windows starts from); "
       "the last boot used ControlSet002 (Select\\Current = 2); the fallback is ControlSet003 "
       "(Select\\LastKnownGood = 3)",
       set1},
      // No usable Default: the set the last boot used stands in.
      {std::nullopt, 2, 2,
       "CurrentControlSet is ControlSet002 (Select\\Current = 2, the set the last boot used: "
       "Select has no value Default)",
       set2},
      {0, 3, 3,
       "CurrentControlSet is ControlSet003 (Select\\Current = 3, the set the last boot used: "
       "Select\\Default is 0, not a control set number)",
       set3},
      {4, 1, 1,
       "CurrentControlSet is ControlSet001 (Select\\Current = 1, the set the last boot used: "
       "Select\\Default names ControlSet004, which the hive does not hold)",
       set1},
      {std::nullopt, std::nullopt, std::nullopt,
       "no CurrentControlSet: Select has no value Default, and Select has no value Current", rest},
      {0, 0, std::nullopt,
       "no CurrentControlSet: Select\\Default is 0, not a control set number, and "
       "Select\\Current is 0, not a control set number",
       rest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.note);
    const std::string path = MakeHive(std::nullopt);
    {
      auto building = OpenHive(path, HiveAccess::kWrite);
      if (c.byDefault) SetDword(*building, "SYSTEM\\Select", "Default", *c.byDefault);
      if (c.current) SetDword(*building, "SYSTEM\\Select", "Current", *c.current);
      ASSERT_EQ(building->Commit({.keepBackup = false, .stepHook = {}}).error, HiveError::kNone);
    }
    auto hive = OpenHive(path, HiveAccess::kRead);
    EXPECT_EQ(hive->Mapping().current, c.mapped);
    EXPECT_EQ(hive->Mapping().note, c.note);
    EXPECT_EQ(Scan(*hive), c.records);
  }
}

TEST_F(HiveTest, SelectValuesOfTheWrongTypeOrAMissingSelectKeyGiveNoCurrentControlSet) {
  struct Case {
    const char* label;
    std::function<void(HiveRegistry&)> change;
    const char* note;
  };
  const Case cases[] = {
      {"REG_SZ",
       [](HiveRegistry& h) {
         h.SetValue("SYSTEM\\Select", "Current", regtype::kSz, {'2', 0});
         h.SetValue("SYSTEM\\Select", "Default", regtype::kSz, {'2', 0});
       },
       "no CurrentControlSet: Select\\Default is not a REG_DWORD, and Select\\Current is not a "
       "REG_DWORD"},
      {"three bytes",
       [](HiveRegistry& h) {
         h.SetValue("SYSTEM\\Select", "Current", regtype::kDword, {2, 0, 0});
         h.SetValue("SYSTEM\\Select", "Default", regtype::kDword, {2, 0, 0});
       },
       "no CurrentControlSet: Select\\Default is not a REG_DWORD, and Select\\Current is not a "
       "REG_DWORD"},
      {"no Select", [](HiveRegistry& h) { h.DeleteKey("SYSTEM\\Select"); },
       "no CurrentControlSet: the hive has no key Select"},
      {"target deleted", [](HiveRegistry& h) { h.DeleteKey("SYSTEM\\ControlSet002"); },
       "no CurrentControlSet: Select\\Default names ControlSet002, which the hive does not hold, "
       "and Select\\Current names ControlSet002, which the hive does not hold"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto hive = OpenHive(MakeHive(2), HiveAccess::kWrite);
    c.change(*hive);
    EXPECT_EQ(hive->Mapping().note, c.note);
    RegKey key(*hive);
    EXPECT_EQ(key.Open("SYSTEM\\CurrentControlSet"), regstatus::kFileNotFound);
  }
}

TEST_F(HiveTest, CurrentControlSetIsListedAmongSystemsSubkeysInWindowsOrder) {
  auto hive = OpenHive(MakeHive(2), HiveAccess::kWrite);
  RegKey key(*hive);
  ASSERT_EQ(key.Open("system"), regstatus::kSuccess);
  EXPECT_EQ(SubkeyNames(*hive, key.Get()),
            (std::vector<std::string>{"ControlSet001", "ControlSet002", "ControlSet003",
                                      "CurrentControlSet", "MountedDevices", "Select"}));
  // Without a Default, Current still names the set; once Select names no set, the link is
  // gone from a listing made before.
  key.Reset();
  hive->SetValue("SYSTEM\\Select", "Default", regtype::kSz, {'2', 0});
  ASSERT_EQ(key.Open("system"), regstatus::kSuccess);
  EXPECT_EQ(SubkeyNames(*hive, key.Get()).size(), 6u);
  key.Reset();
  hive->SetValue("SYSTEM\\Select", "Current", regtype::kSz, {'2', 0});
  ASSERT_EQ(key.Open("system"), regstatus::kSuccess);
  EXPECT_EQ(SubkeyNames(*hive, key.Get()),
            (std::vector<std::string>{"ControlSet001", "ControlSet002", "ControlSet003",
                                      "MountedDevices", "Select"}));
}

TEST_F(HiveTest, EachOpenResolvesItsWholePathWhateverWasOpenedBefore) {
  // Opens in this order; each path shares a beginning with the one before it.
  struct Case {
    const char* path;
    RegStatus status;
  };
  const Case cases[] = {
      {"SYSTEM\\ControlSet001\\Control\\Class", regstatus::kSuccess},
      {"SYSTEM\\ControlSet001\\Control\\ClassX", regstatus::kFileNotFound},
      {"SYSTEM\\ControlSet001\\Control\\Class\\Modem", regstatus::kSuccess},
      {"SYSTEM\\ControlSet001\\Control\\Clas", regstatus::kFileNotFound},
      {"SYSTEM\\ControlSet001\\Control\\Class\\Modem\\0001", regstatus::kSuccess},
      {"SYSTEM\\ControlSet001\\Control", regstatus::kSuccess},
      {"SYSTEM\\ControlSet001\\Contro\\Class", regstatus::kFileNotFound},
      {"SYSTEM\\ControlSet001\\Control\\\\Class\\Modem", regstatus::kSuccess},
      {"SYSTEM\\CurrentControlSet\\Control\\Class\\Modem\\0001", regstatus::kFileNotFound},
      {"SYSTEM\\CurrentControlSet\\Control\\Class\\Modem\\0000", regstatus::kSuccess},
      {"SYSTEM\\ControlSet002\\Control\\Class\\Modem\\0000\\", regstatus::kSuccess},
  };
  auto hive = OpenHive(MakeHive(2), HiveAccess::kWrite);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RegKey key(*hive);
    EXPECT_EQ(key.Open(c.path), c.status);
  }
  // A key deleted after its path was opened is gone for the next open of that path.
  RegKey key(*hive);
  ASSERT_EQ(key.Open("SYSTEM\\ControlSet001\\Control\\Class\\Modem\\0000"), regstatus::kSuccess);
  key.Reset();
  ASSERT_TRUE(hive->DeleteKey("SYSTEM\\ControlSet001\\Control\\Class\\Modem\\0000"));
  EXPECT_EQ(key.Open("SYSTEM\\ControlSet001\\Control\\Class\\Modem\\0000"),
            regstatus::kFileNotFound);
}

// ---- Writing back.

// Every line reglookup (a reader written independently of hivex) prints for the hive, without
// the modification times.
std::vector<std::string> IndependentListing(const std::string& path) {
  const std::string command = "reglookup '" + path + "' 2>&1";
  std::vector<std::string> lines;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line.substr(0, line.rfind(',')));
  }
  EXPECT_EQ(::pclose(pipe), 0) << "reglookup failed on " << path;
  return lines;
}

TEST_F(HiveTest, AfterASwitchAnIndependentReaderSeesTheNewPrefixesAndEverythingElseAsBefore) {
  const std::string path = MakeHive(2);
  std::vector<std::string> expected = IndependentListing(path);
  ASSERT_GT(expected.size(), 20u);
  // The modems in "D" become "A" (ControlSet002's, already "A", is written neither through
  // CurrentControlSet nor through its own name); each keeps the spelling of its value name.
  for (const char* changed : {"/ControlSet001/Control/Class/Modem/0000/DialPrefix,SZ,",
                              "/ControlSet003/Control/Class/Modem/0000/dialprefix,SZ,"}) {
    bool found = false;
    for (std::string& line : expected) {
      if (line == std::string(changed) + "D") {
        line = std::string(changed) + "A";
        found = true;
      }
    }
    EXPECT_TRUE(found) << changed;
  }

  auto hive = SwitchToSecure(path);
  EXPECT_TRUE(hive->Modified());
  ASSERT_EQ(hive->Commit({.keepBackup = false, .stepHook = {}}).error, HiveError::kNone);
  EXPECT_FALSE(hive->Modified()) << "the file holds what memory holds";
  hive.reset();
  EXPECT_EQ(IndependentListing(path), expected);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"SYSTEM"});
}

// The read-back check compares the new file with what memory holds, key by key: a file that
// came out otherwise (changed here just before the check reads it) is never put in place, and
// the failure names the key and what differs.
TEST_F(HiveTest, ANewFileThatReadsBackOtherwiseIsNeverPutInPlace) {
  using Change = std::function<void(hive_h*, hive_node_h modem)>;
  struct Case {
    const char* name;
    Change change;                                          // through hivex, on Modem\0000
    std::function<void(std::vector<std::uint8_t>&)> bytes;  // then on the file's bytes
    const char* difference;
  };
  const auto setPrefix = [](hive_type type, const char16_t* text) -> Change {
    return [type, text](hive_h* h, hive_node_h modem) {
      hive_set_value value{const_cast<char*>("DialPrefix"), type, 4,
                           reinterpret_cast<char*>(const_cast<char16_t*>(text))};
      ASSERT_EQ(hivex_node_set_value(h, modem, &value, 0), 0);
    };
  };
  constexpr char kModem[] = "ControlSet001\\Control\\Class\\Modem";
  const Case cases[] = {
      {"other data", setPrefix(hive_t_REG_SZ, u"B"), {}, "\\0000: value \"DialPrefix\" differs"},
      {"other type",
       setPrefix(hive_t_REG_EXPAND_SZ, u"A"),
       {},
       "\\0000: value \"DialPrefix\" differs"},
      {"a value more",
       [](hive_h* h, hive_node_h m) {
         hive_set_value value{const_cast<char*>("Extra"), hive_t_REG_NONE, 0, nullptr};
         ASSERT_EQ(hivex_node_set_value(h, m, &value, 0), 0);
       },
       {},
       "\\0000: the number of values differs"},
      {"a subkey more",
       [](hive_h* h, hive_node_h m) { ASSERT_NE(hivex_node_add_child(h, m, "Extra"), 0u); },
       {},
       "\\0000: the number of subkeys differs"},
      {"a subkey renamed",
       [](hive_h* h, hive_node_h m) {
         const hive_node_h modems = hivex_node_parent(h, m);
         ASSERT_EQ(hivex_node_delete_child(h, m), 0);
         ASSERT_NE(hivex_node_add_child(h, modems, "0002"), 0u);
       },
       {},
       ": subkey 0 differs"},
      {"not cleanly saved",
       {},
       [](std::vector<std::uint8_t>& bytes) { bytes = Resummed(WithU32(bytes, 8, 7)); },
       "not cleanly saved"},
      {"header damaged",
       {},
       [](std::vector<std::uint8_t>& bytes) { bytes = WithU32(bytes, 508, 0); },
       "its header checksum is wrong"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = MakeHive(1, "FAIL");
    const std::vector<std::uint8_t> before = ReadBytes(path);
    auto hive = SwitchToSecure(path);
    const HiveProblem problem = hive->Commit(
        {.keepBackup = true, .stepHook = [&](CommitStep step) {
           if (step != CommitStep::kCheckNew) return true;
           // The new file, in the private folder beside the hive.
           std::string written;
           for (const std::string& entry : folder.Entries()) {
             if (entry.rfind(".FAIL.new-", 0) == 0) written = folder.File(entry + "/FAIL");
           }
           if (c.change) {
             hive_h* h = hivex_open(written.c_str(), HIVEX_OPEN_WRITE);
             EXPECT_NE(h, nullptr);
             if (h == nullptr) return true;
             hive_node_h modem = hivex_root(h);
             for (const char* name : {"ControlSet001", "Control", "Class", "Modem", "0000"}) {
               modem = hivex_node_get_child(h, modem, name);
             }
             EXPECT_NE(modem, 0u);
             if (modem != 0) c.change(h, modem);
             EXPECT_EQ(hivex_commit(h, nullptr, 0), 0);
             hivex_close(h);
           }
           if (c.bytes) {
             std::vector<std::uint8_t> bytes = ReadBytes(written);
             c.bytes(bytes);
             WriteBytes(written, bytes);
           }
           return true;
         }});
    EXPECT_EQ(problem.error, HiveError::kWriteFailed);
    const std::string expected = c.bytes ? c.difference : std::string(kModem) + c.difference;
    EXPECT_NE(problem.message.find(expected), std::string::npos) << problem.message;
    hive.reset();
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"FAIL"});
    EXPECT_EQ(ReadBytes(path), before);
    ::unlink(path.c_str());
  }
}

// A key's fields follow its cell's size: the subkey count and list, and the name's length and
// bytes (hivex stores an ASCII name as Latin-1, a byte a character).
constexpr std::size_t kCellHeader = 4, kSubkeyCount = 20, kSubkeyList = 28, kNameLength = 72,
                      kName = 76;

// Gives each key of `keys` the subkey list of the key at `listOf`: its count and cell, so the
// keys list what that key lists, and none of those subkeys names them its parent.
void ListLike(const std::string& path, const std::string& listOf,
              const std::vector<std::string>& keys) {
  std::vector<std::string> all{listOf};
  all.insert(all.end(), keys.begin(), keys.end());
  const std::vector<std::size_t> nodes = NodesAt(path, all);
  ASSERT_EQ(std::count(nodes.begin(), nodes.end(), 0u), 0) << "a key is missing";
  std::vector<std::uint8_t> bytes = ReadBytes(path);
  for (std::size_t i = 1; i < nodes.size(); ++i) {
    for (const std::size_t field : {kSubkeyCount, kSubkeyList}) {
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(nodes[0] + kCellHeader + field), 4,
                  bytes.begin() + static_cast<std::ptrdiff_t>(nodes[i] + kCellHeader + field));
    }
  }
  WriteBytes(path, bytes);
}

// Renames the key at `key` in place to `name`, no longer than its stored name.
void Rename(const std::string& path, const std::string& key, const std::string& name) {
  const hive_node_h node = NodesAt(path, {key}).at(0);
  ASSERT_NE(node, 0u) << key;
  std::vector<std::uint8_t> bytes = ReadBytes(path);
  const std::size_t at = node + kCellHeader;
  bytes[at + kNameLength] = static_cast<std::uint8_t>(name.size());
  bytes[at + kNameLength + 1] = 0;
  std::copy(name.begin(), name.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + kName));
  WriteBytes(path, bytes);
}

// Points the data of the value `name` of the key at `key` elsewhere, as a damaged sector might:
// the value's record then says its data is kept apart at `DataAt`'s place.
enum class DataAt { kNoCell, kItsOwnRecord, kTheValueList, kAnotherValuesData };
void PointData(const std::string& path, const std::string& key, const char* name, DataAt at) {
  const hive_node_h node = NodesAt(path, {key}).at(0);
  ASSERT_NE(node, 0u) << key;
  hive_h* raw = hivex_open(path.c_str(), 0);
  ASSERT_NE(raw, nullptr);
  const hive_value_h value = hivex_node_get_value(raw, node, name);
  const hive_value_h other = hivex_node_get_value(raw, node, "DriverDesc");
  const std::size_t otherData = hivex_value_data_cell_offset(raw, other, nullptr);
  hivex_close(raw);
  ASSERT_NE(value, 0u) << name;
  ASSERT_NE(otherData, 0u);
  std::vector<std::uint8_t> bytes = ReadBytes(path);
  const auto u32At = [&](std::size_t offset) {
    return bytes.at(offset) | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<std::size_t>(bytes[offset + 3]) << 24;
  };
  const std::size_t cell = at == DataAt::kNoCell         ? value + 8
                           : at == DataAt::kItsOwnRecord ? value
                           : at == DataAt::kTheValueList ? 0x1000 + u32At(node + kCellHeader + 40)
                                                         : otherData;
  // A value record after its cell's size: "vk", the name's length (2 bytes), the data's length
  // (4; the top bit set when the data is kept in the record itself), the data's offset from the
  // first bin (4).
  const std::size_t record = value + kCellHeader;
  ASSERT_EQ(bytes.at(record), 'v');
  bytes[record + 7] &= 0x7F;
  for (std::size_t byte = 0; byte < 4; ++byte) {
    bytes[record + 8 + byte] = static_cast<std::uint8_t>((cell - 0x1000) >> (8 * byte));
  }
  WriteBytes(path, bytes);
}

// A value whose data is no cell, or a cell that is also something else (found by the hive
// fuzzer: its own record). hivex frees the old values' cells whenever it rewrites a key's
// values, and a cell freed twice, or not one, ends the program in a failed assertion. Such a
// key is a damaged part: named, passed over by the scan, never written.
TEST_F(HiveTest, AKeyWhoseValueDataIsNoCellOfItsOwnIsADamagedPartAndNeverWritten) {
  const std::string damaged = std::string("ControlSet001\\") + kModems + "0000";
  for (const DataAt at : {DataAt::kNoCell, DataAt::kItsOwnRecord, DataAt::kTheValueList,
                          DataAt::kAnotherValuesData}) {
    SCOPED_TRACE(static_cast<int>(at));
    const std::string path = MakeHive(1);
    PointData(path, damaged, at == DataAt::kAnotherValuesData ? "Tone" : "DriverDesc", at);

    auto hive = SwitchToSecure(path);
    EXPECT_EQ(hive->UnreadableKeys(), std::vector<std::string>{"SYSTEM\\" + damaged});
    RegKey key(*hive);
    ASSERT_EQ(key.Open(("SYSTEM\\" + damaged).c_str()), regstatus::kSuccess);
    EXPECT_EQ(hive->SetStringValue(key.Get(), "DialPrefix", "A"), regstatus::kGenFailure);
    key.Reset();
    for (const Record& record : Scan(*hive)) {
      EXPECT_NE(record.first, "SYSTEM\\" + damaged);
      EXPECT_EQ(record.second, "A") << record.first;
    }
  }
}

// A damaged key where the scan does not go: hivex writes its new cells past the end of the
// file it read, where the key's broken list may then lead (found by the fuzzer: Select, whose
// list led past the end, gained a Current once the switch was written). The hive as read names
// the key, and no commit writes the hive; a Select that cannot be read gives no
// CurrentControlSet and is named too.
TEST_F(HiveTest, AHiveDamagedWhereTheScanDoesNotGoIsNotWritten) {
  const std::string path = MakeHive(1);
  ListAValuePastTheEnd(path, "MountedDevices");
  const std::vector<std::uint8_t> damaged = ReadBytes(path);
  auto hive = SwitchToSecure(path);
  EXPECT_TRUE(hive->UnreadableKeys().empty());
  EXPECT_EQ(hive->DamagedKey(), "SYSTEM\\MountedDevices");
  const HiveProblem refused = hive->Commit({.keepBackup = false, .stepHook = {}});
  EXPECT_EQ(refused.error, HiveError::kDamaged);
  EXPECT_EQ(refused.message, path +
                                 ": the key SYSTEM\\MountedDevices cannot be read (the hive is "
                                 "damaged there), so the hive is not written; it is unchanged");
  hive.reset();
  EXPECT_EQ(ReadBytes(path), damaged);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"SYSTEM"});

  const std::string select = MakeHive(1, "SELECT");
  ListAValuePastTheEnd(select, "Select");
  auto reader = OpenHive(select, HiveAccess::kRead);
  EXPECT_EQ(reader->Mapping().note,
            "no CurrentControlSet: the values of Select cannot be read (the hive is damaged "
            "there)");
  EXPECT_EQ(reader->UnreadableKeys(), std::vector<std::string>{"SYSTEM\\Select"});
  EXPECT_EQ(reader->DamagedKey(), "SYSTEM\\Select");
}

// Damaged hives whose subkey lists lead back: a key that lists itself (outside the control
// sets, so only the write-back's comparison meets it); two keys below a control set that each
// list both (a walk through them would double at every level); subkeys named "" and "\\",
// whose paths name the key that lists them (found by the hive fuzzer: a scan of a 17 KB hive
// took minutes). The scan ends and names the damaged keys; the commit ends.
TEST_F(HiveTest, SubkeyListsThatLeadBackAreReportedAndEveryWalkEnds) {
  MemoryRegistry source;
  source.LoadRegFile(FixturePath("offline_system.reg"));
  for (const char* key : {"Loop\\Leaf", "ControlSet001\\Twice\\A", "ControlSet001\\Twice\\B",
                          "ControlSet001\\Empty\\Named", "ControlSet001\\Slash\\Named"}) {
    source.CreateKey(std::string("SYSTEM\\") + key);
  }
  const std::string path = folder.File("SYSTEM");
  BuildHive(path, source, 1);
  ListLike(path, "Loop", {"Loop\\Leaf"});
  ListLike(path, "ControlSet001\\Twice", {"ControlSet001\\Twice\\A", "ControlSet001\\Twice\\B"});
  Rename(path, "ControlSet001\\Empty\\Named", "");
  Rename(path, "ControlSet001\\Slash\\Named", "\\");

  auto hive = SwitchToSecure(path);
  std::vector<std::string> damaged = hive->UnreadableKeys();
  std::sort(damaged.begin(), damaged.end());
  EXPECT_EQ(damaged, (std::vector<std::string>{
                         "SYSTEM\\ControlSet001\\Empty", "SYSTEM\\ControlSet001\\Slash",
                         "SYSTEM\\ControlSet001\\Twice\\A", "SYSTEM\\ControlSet001\\Twice\\B"}));
  ASSERT_EQ(hive->Commit({.keepBackup = false, .stepHook = {}}).error, HiveError::kNone);
  hive.reset();

  auto reread = OpenHive(path, HiveAccess::kRead);
  for (const Record& record : Scan(*reread)) EXPECT_EQ(record.second, "A") << record.first;
  RegKey key(*reread);
  ASSERT_EQ(key.Open("SYSTEM\\Loop\\Leaf"), regstatus::kSuccess);
  RegKeyInfo info;
  EXPECT_EQ(reread->QueryKey(key.Get(), &info), regstatus::kGenFailure);
  EXPECT_EQ(key.Open("SYSTEM\\Loop\\Leaf\\Leaf"), regstatus::kGenFailure);
  key.Reset();
  const std::vector<std::string>& reported = reread->UnreadableKeys();
  EXPECT_NE(std::find(reported.begin(), reported.end(), "SYSTEM\\Loop\\Leaf"), reported.end());
  reread.reset();

  // Deleting the loop (a building function of the tests) ends too: hivex refuses it.
  auto writable = OpenHive(path, HiveAccess::kWrite);
  EXPECT_THROW(writable->DeleteKey("SYSTEM\\Loop"), std::runtime_error);
}

TEST_F(HiveTest, AFailureAtAnyCommitStepLeavesTheOldHiveOrTheNewOneAndNoStrayFile) {
  struct Case {
    CommitStep step;
    bool newHiveInPlace;
  };
  const Case cases[] = {
      {CommitStep::kWriteNew, false},     {CommitStep::kCarryAttributes, false},
      {CommitStep::kSyncNew, false},      {CommitStep::kCheckNew, false},
      {CommitStep::kKeepBackup, false},   {CommitStep::kReplace, false},
      {CommitStep::kSyncDirectory, true},
  };
  // With the backup a hard link, and copied as where the file system has no hard links.
  for (const bool linkBackup : {true, false})
    for (const Case& c : cases) {
      SCOPED_TRACE(CommitStepName(c.step) + std::string(linkBackup ? ", linked" : ", copied"));
      const std::string path = MakeHive(1, "FAIL");
      const std::vector<std::uint8_t> before = ReadBytes(path);
      auto hive = SwitchToSecure(path);
      const HiveProblem problem = hive->Commit(
          {.keepBackup = true, .linkBackup = linkBackup, .stepHook = [&](CommitStep step) {
             return step != c.step;
           }});
      // Once the new hive is in place, the failure says so in a class of its own.
      EXPECT_EQ(problem.error,
                c.newHiveInPlace ? HiveError::kNotConfirmed : HiveError::kWriteFailed);
      EXPECT_NE(problem.message.find(CommitStepName(c.step)), std::string::npos) << problem.message;
      hive.reset();
      if (c.newHiveInPlace) {
        EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"FAIL", "FAIL.bak"}));
        EXPECT_EQ(ReadBytes(path + ".bak"), before);
        EXPECT_EQ(Scan(*OpenHive(path, HiveAccess::kRead)).front().second, "A");
      } else {
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"FAIL"});
        EXPECT_EQ(ReadBytes(path), before);
      }
      ::unlink(path.c_str());
      ::unlink((path + ".bak").c_str());
    }
}

TEST_F(HiveTest, AKillAtAnyCommitStepLeavesTheOldHiveOrTheNewOne) {
  for (const bool linkBackup : {true, false})
    for (const CommitStep killed :
         {CommitStep::kWriteNew, CommitStep::kCarryAttributes, CommitStep::kSyncNew,
          CommitStep::kCheckNew, CommitStep::kKeepBackup, CommitStep::kReplace,
          CommitStep::kSyncDirectory}) {
      SCOPED_TRACE(CommitStepName(killed) + std::string(linkBackup ? ", linked" : ", copied"));
      const std::string path = MakeHive(1, "KILL");
      const std::vector<std::uint8_t> before = ReadBytes(path);
      const pid_t child = ::fork();
      ASSERT_NE(child, -1);
      if (child == 0) {
        auto hive = SwitchToSecure(path);
        // The hook runs before the step; killed after half of what it writes, where it writes.
        hive->Commit(
            {.keepBackup = true, .linkBackup = linkBackup, .stepHook = [&](CommitStep step) {
               if (step == killed) ::_exit(0);
               return true;
             }});
        ::_exit(1);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child was not killed";

      // The next writer finds the hive unlocked, whole, and removes what the killed one left.
      auto after = OpenHive(path, HiveAccess::kWrite);
      const std::string prefix = Scan(*after).front().second;
      if (killed == CommitStep::kSyncDirectory) {
        EXPECT_EQ(prefix, "A");
      } else {
        EXPECT_EQ(prefix, "D");
        EXPECT_EQ(ReadBytes(path), before);
      }
      for (const std::string& entry : folder.Entries()) {
        EXPECT_TRUE(entry == "KILL" || entry == "KILL.bak") << "left behind: " << entry;
        // A backup that has its name is whole, copied or linked.
        if (entry == "KILL.bak") {
          EXPECT_EQ(ReadBytes(path + ".bak"), before);
        }
      }
      after.reset();
      ::unlink(path.c_str());
      ::unlink((path + ".bak").c_str());
    }
}

TEST_F(HiveTest, ABackupKeepsTheOldHiveUnderTheFirstFreeName) {
  const std::string path = MakeHive(1);
  const std::vector<std::uint8_t> first = ReadBytes(path);
  WriteBytes(path + ".bak", {'o', 'l', 'd'});
  struct Case {
    bool keepBackup;
    const char* backupName;  // null: none is made
  };
  for (const Case& c :
       {Case{true, "SYSTEM.bak.1"}, Case{false, nullptr}, Case{true, "SYSTEM.bak.2"}}) {
    SCOPED_TRACE(c.backupName ? c.backupName : "no backup");
    const std::vector<std::uint8_t> before = ReadBytes(path);
    const std::vector<std::string> entriesBefore = folder.Entries();
    auto hive = OpenHive(path, HiveAccess::kWrite);
    hive->SetValue("SYSTEM\\Select", "Touched", regtype::kDword, {1, 0, 0, 0});
    ASSERT_EQ(hive->Commit({.keepBackup = c.keepBackup, .stepHook = {}}).error, HiveError::kNone);
    std::vector<std::string> expected = entriesBefore;
    if (c.backupName) {
      expected.push_back(c.backupName);
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(ReadBytes(folder.File(c.backupName)), before);
    }
    EXPECT_EQ(folder.Entries(), expected);
  }
  EXPECT_EQ(ReadBytes(path + ".bak.1"), first);
  EXPECT_EQ(ReadBytes(path + ".bak"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

TEST_F(HiveTest, TheNewHiveKeepsTheOwnerAndModeOfTheOld) {
  const std::string path = MakeHive(1);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), 1234, 4321), 0);
  }
  auto hive = SwitchToSecure(path);
  ASSERT_EQ(hive->Commit({.keepBackup = false, .stepHook = {}}).error, HiveError::kNone);
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(status.st_uid, 1234u);
    EXPECT_EQ(status.st_gid, 4321u);
  }
}

// ---- Files that are refused.

TEST_F(HiveTest, FilesThatCannotBeUsedAreRefusedWithTheirClassAndOneLine) {
  const std::vector<std::uint8_t> good = ReadBytes(MakeHive(1, "GOOD"));
  struct Case {
    const char* label;
    std::function<void(const std::string& path)> make;
    HiveError reading, writing;
    const char* words;  // in the message
  };
  const auto bytes = [](std::vector<std::uint8_t> content) {
    return [content](const std::string& path) { WriteBytes(path, content); };
  };
  std::vector<std::uint8_t> badBin = good;
  badBin[0x1000] = 'X';  // the first bin's signature
  const Case cases[] = {
      {"missing", [](const std::string&) {}, HiveError::kUnreadable, HiveError::kUnreadable,
       "cannot be read"},
      {"a folder", [](const std::string& p) { ::mkdir(p.c_str(), 0755); }, HiveError::kUnreadable,
       HiveError::kUnreadable, "folder"},
      {"empty", bytes({}), HiveError::kNotAHive, HiveError::kNotAHive, "not a registry hive"},
      {"text", bytes({'R', 'E', 'G', 'E', 'D', 'I', 'T', '4', '\n'}), HiveError::kNotAHive,
       HiveError::kNotAHive, "not a registry hive"},
      {"cut in the header", bytes({good.begin(), good.begin() + 100}), HiveError::kTruncated,
       HiveError::kTruncated, "truncated"},
      {"cut in the bins", bytes({good.begin(), good.end() - 100}), HiveError::kTruncated,
       HiveError::kTruncated, "truncated"},
      {"checksum wrong", bytes(WithU32(good, 508, 0)), HiveError::kDamaged, HiveError::kDamaged,
       "checksum"},
      {"bin damaged", bytes(badBin), HiveError::kDamaged, HiveError::kDamaged, "damaged"},
      {"not cleanly saved", bytes(Resummed(WithU32(good, 8, 7))), HiveError::kNone,
       HiveError::kNotCleanlySaved, "not cleanly saved"},
      {"read-only",
       [&](const std::string& p) {
         WriteBytes(p, good);
         ::chmod(p.c_str(), 0444);
       },
       HiveError::kNone, HiveError::kReadOnly, "read-only"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = folder.File("case" + std::to_string(index++));
    c.make(path);
    for (const HiveAccess access : {HiveAccess::kRead, HiveAccess::kWrite}) {
      const HiveError expected = access == HiveAccess::kRead ? c.reading : c.writing;
      HiveProblem problem;
      const auto hive = HiveRegistry::Open(path, access, &problem);
      EXPECT_EQ(hive != nullptr, expected == HiveError::kNone);
      EXPECT_EQ(problem.error, expected);
      if (expected == HiveError::kNone) continue;
      EXPECT_EQ(problem.message.rfind(path + ": ", 0), 0u) << problem.message;
      EXPECT_NE(problem.message.find(c.words), std::string::npos) << problem.message;
      EXPECT_EQ(problem.message.find('\n'), std::string::npos);
    }
  }
}

TEST_F(HiveTest, AHiveNotCleanlySavedIsReadWithAWarning) {
  const std::string path = folder.File("DIRTY");
  WriteBytes(path, Resummed(WithU32(ReadBytes(MakeHive(2)), 4, 9)));
  auto hive = OpenHive(path, HiveAccess::kRead);
  ASSERT_EQ(hive->Warnings().size(), 1u);
  EXPECT_NE(hive->Warnings()[0].find("not cleanly saved"), std::string::npos);
  EXPECT_EQ(Scan(*hive).size(), 4u);
  EXPECT_TRUE(OpenHive(MakeHive(2), HiveAccess::kRead)->Warnings().empty());
}

TEST_F(HiveTest, ASecondWriterIsRefusedWhileReadersAreNot) {
  const std::string path = MakeHive(1);
  auto writer = OpenHive(path, HiveAccess::kWrite);
  HiveProblem problem;
  EXPECT_EQ(HiveRegistry::Open(path, HiveAccess::kWrite, &problem), nullptr);
  EXPECT_EQ(problem.error, HiveError::kLocked);
  EXPECT_NE(HiveRegistry::Open(path, HiveAccess::kRead, &problem), nullptr);
  // Still locked after the writer committed: the lock moves to the new file.
  ASSERT_EQ(writer->Commit({.keepBackup = false, .stepHook = {}}).error, HiveError::kNone);
  EXPECT_EQ(HiveRegistry::Open(path, HiveAccess::kWrite, &problem), nullptr);
  EXPECT_EQ(problem.error, HiveError::kLocked);
  writer.reset();
  EXPECT_NE(HiveRegistry::Open(path, HiveAccess::kWrite, &problem), nullptr);
}

TEST_F(HiveTest, AHiveOpenedForReadingRefusesWritesAndCommits) {
  auto hive = OpenHive(MakeHive(1), HiveAccess::kRead);
  RegKey key(*hive);
  ASSERT_EQ(key.Open("SYSTEM\\Select"), regstatus::kSuccess);
  EXPECT_EQ(hive->SetStringValue(key.Get(), "Current", "2"), regstatus::kAccessDenied);
  EXPECT_EQ(hive->Commit().error, HiveError::kReadOnly);
}

}  // namespace
