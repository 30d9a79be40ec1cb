// modemprefix on an offline SYSTEM hive: the records the dialog would make once the PC has
// booted, the write-back, and one exit code for each way a hive can be refused.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/xattr.h>
#include <unistd.h>

#include "cli/hive_front.h"
#include "tests/common/hive_fixture.h"

#ifndef MODEMCONFIG_FIXTURES_DIR
#error "MODEMCONFIG_FIXTURES_DIR must name tests/fixtures"
#endif
#ifndef MODEMPREFIX_EXE
#error "MODEMPREFIX_EXE must name the built modemprefix"
#endif

namespace {

using nlohmann::json;

const std::string kModem = "\\Control\\ScanFixture\\Modem";
const std::string kCcs = "SYSTEM\\CurrentControlSet";
const std::string kCs1 = "SYSTEM\\ControlSet001";
const std::string kCs3 = "SYSTEM\\ControlSet003";
// What reglookup reads from the hive of scan_roots.reg once every modem key, 002's too, is
// secure.
const std::vector<std::string> kEveryModemSecure = {
    "/ControlSet001/Control/ScanFixture/Modem/dialprefix,SZ,A,",
    "/ControlSet001/Control/ScanFixture/WrongPrefix/DialPrefix,SZ,ATD,",
    "/ControlSet002/Control/ScanFixture/Modem/DialPrefix,SZ,A,",
    "/ControlSet003/Control/ScanFixture/Modem/DialPrefix,SZ,A,",
};

class HiveFrontTest : public ::testing::Test {
 protected:
  // scan_roots.reg as a PC's SYSTEM hive: control sets 001 to 003, no CurrentControlSet (an
  // offline hive has none), and Select\Current when given.
  std::string MakeHive(std::optional<std::uint32_t> current) {
    MemoryRegistry tree;
    tree.LoadRegFile(std::string(MODEMCONFIG_FIXTURES_DIR) + "/scan_roots.reg");
    tree.DeleteKey(kCcs);
    const std::string path = folder.File("SYSTEM");
    BuildHive(path, tree, current);
    return path;
  }

  int Run(const std::vector<std::string>& args,
          const std::function<bool(CommitStep)>& commitStepHook = {}) {
    ReportText out, err;
    const int code = RunModemPrefixOnHive(args, out, err, commitStepHook);
    stdoutText = out.str();
    stderrText = err.str();
    return code;
  }

  // Every line of an independent reader's listing (reglookup, not hivex) that names a
  // DialPrefix value, as "path,type,data".
  static std::vector<std::string> DialPrefixesRead(const std::string& path) {
    std::vector<std::string> lines;
    FILE* pipe = ::popen(("reglookup -H '" + path + "' 2>&1").c_str(), "r");
    if (pipe == nullptr) return {"<reglookup did not start>"};
    char line[4096];
    while (std::fgets(line, sizeof(line), pipe)) {
      std::string text(line);
      if (text.find("ialPrefix,") == std::string::npos &&
          text.find("IALPREFIX,") == std::string::npos &&
          text.find("ialprefix,") == std::string::npos) {
        continue;
      }
      if (!text.empty() && text.back() == '\n') text.pop_back();
      lines.push_back(text);
    }
    EXPECT_EQ(::pclose(pipe), 0);
    return lines;
  }

  // The hive as Windows leaves it when it did not finish saving: the first sequence number
  // moved on, the second did not (the header's checksum made right again, so only the
  // sequence numbers tell).
  static std::vector<std::uint8_t> NotCleanlySaved(std::vector<std::uint8_t> bytes) {
    bytes[4] += 1;
    return Resummed(std::move(bytes));
  }

  // Sets SYSTEM\\Select\\Default of a built hive.
  static void SetDefault(const std::string& path, std::uint32_t number) {
    auto hive = OpenHive(path, HiveAccess::kWrite);
    SetDword(*hive, "SYSTEM\\Select", "Default", number);
    ASSERT_EQ(hive->Commit({.keepBackup = false, .stepHook = {}}).error, HiveError::kNone);
  }

  // Breaks the signature of the subkey list of the key at `stored` (names from the root, as
  // stored), as a damaged sector would.
  static void BreakSubkeyList(const std::string& path, const std::vector<std::string>& stored) {
    std::string key;
    for (const std::string& name : stored) key += (key.empty() ? "" : "\\") + name;
    const std::size_t node = NodesAt(path, {key}).at(0);
    ASSERT_NE(node, 0u);
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    // A key record: its cell's size, then "nk"; the subkey list's offset from the first bin
    // at 0x1C past the signature.
    ASSERT_EQ(bytes.at(node + 4), 'n');
    const std::size_t at = node + 4 + 0x1C;
    const std::size_t list = 0x1000 + (bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                       static_cast<std::size_t>(bytes[at + 3]) << 24);
    bytes.at(list + 4) = 'z';
    bytes.at(list + 5) = 'z';
    WriteBytes(path, bytes);
  }

  TempFolder folder;
  std::string stdoutText, stderrText;
};

struct MappingCase {
  const char* name;
  std::optional<std::uint32_t> current;
  std::vector<std::pair<std::string, std::string>> records;
  const char* note;
};

class HiveMappingTest : public HiveFrontTest, public ::testing::WithParamInterface<MappingCase> {};

TEST_P(HiveMappingTest, RecordsAreThoseOfTheBootedPc) {
  const MappingCase& c = GetParam();
  const std::string hive = MakeHive(c.current);
  EXPECT_EQ(Run({"--hive", hive, "status", "--json"}), 0) << stderrText;
  const json doc = json::parse(stdoutText);
  std::vector<std::pair<std::string, std::string>> records;
  for (const json& key : doc["keys"]) records.emplace_back(key["path"], key["prefix"]);
  EXPECT_EQ(records, c.records);
  ASSERT_EQ(doc["notes"].size(), 1u);
  EXPECT_NE(doc["notes"][0].get<std::string>().find(c.note), std::string::npos) << doc["notes"];
  EXPECT_EQ(Run({"--hive", hive, "status"}), 0);
  EXPECT_EQ(stdoutText.rfind("Note: ", 0), 0u) << stdoutText;
}

INSTANTIATE_TEST_SUITE_P(
    SelectCurrent, HiveMappingTest,
    ::testing::Values(
        MappingCase{"One",
                    1,
                    {{kCcs + kModem, "D"}, {kCs1 + kModem, "D"}, {kCs3 + kModem, "A"}},
                    "CurrentControlSet is ControlSet001"},
        // Control set 002 is walked only as the PC's current one.
        MappingCase{"Two",
                    2,
                    {{kCcs + kModem, "D"}, {kCs1 + kModem, "D"}, {kCs3 + kModem, "A"}},
                    "CurrentControlSet is ControlSet002"},
        MappingCase{"Three",
                    3,
                    {{kCcs + kModem, "A"}, {kCs1 + kModem, "D"}, {kCs3 + kModem, "A"}},
                    "CurrentControlSet is ControlSet003"},
        MappingCase{"None",
                    std::nullopt,
                    {{kCs1 + kModem, "D"}, {kCs3 + kModem, "A"}},
                    "no CurrentControlSet"}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST_F(HiveFrontTest, SecureWritesTheHiveBackWithABackupThatAnotherReaderSees) {
  const std::string hive = MakeHive(2);
  const std::vector<std::uint8_t> before = ReadBytes(hive);

  EXPECT_EQ(Run({"--hive", hive, "secure", "--dry-run"}), 0) << stderrText;
  EXPECT_EQ(ReadBytes(hive), before);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"SYSTEM"});

  // 002 through CurrentControlSet and 001 hold "D"; 003 holds "A" already. No restart: the
  // image is not running.
  EXPECT_EQ(Run({"--hive", hive, "secure", "--json"}), 0) << stderrText;
  const json doc = json::parse(stdoutText);
  EXPECT_EQ(doc["written"].size(), 2u);
  EXPECT_EQ(doc["restartNeeded"], false);
  EXPECT_EQ(ReadBytes(folder.File("SYSTEM.bak")), before);
  EXPECT_EQ(DialPrefixesRead(hive), kEveryModemSecure);

  EXPECT_EQ(Run({"--hive", hive, "normal", "--no-backup"}), 0) << stderrText;
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"SYSTEM", "SYSTEM.bak"}));
  EXPECT_EQ(Run({"--hive", hive, "status", "--json"}), 0);
  EXPECT_EQ(json::parse(stdoutText)["mode"], "normal");
}

TEST_F(HiveFrontTest, TextIsUtf8AndJsonAsciiWhateverTheNames) {
  // A modem key named caféÿ in the hive's code page (é is 0xE9, ÿ the last byte, 0xFF), in a
  // file whose name is UTF-8 as Linux gives it, and in one whose name is not UTF-8 at all.
  const std::string key = kCs1 + "\\Control\\caf\xE9\xFF";
  MemoryRegistry tree;
  tree.SetDword(key, "TONE", 1);
  tree.SetDword(key, "PULSE", 0);
  tree.SetString(key, "DIALPREFIX", "D");
  const struct {
    std::string file;
    std::string inJson;
  } cases[] = {
      {folder.File("donn\u00E9es"), folder.File("donn\u00E9es")},  // é in UTF-8
      {folder.File("bad\xE9"), folder.File("bad\xEF\xBF\xBD")},
      {folder.File("smile\U0001F600"), folder.File("smile\U0001F600")},  // beyond U+FFFF
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    BuildHive(c.file, tree, 1);
    ASSERT_EQ(Run({"--hive", c.file, "status"}), 0) << stderrText;
    EXPECT_NE(stdoutText.find(kCs1 + "\\Control\\caf\xC3\xA9\xC3\xBF "), std::string::npos)
        << stdoutText;
    ASSERT_EQ(Run({"--hive", c.file, "status", "--json"}), 0) << stderrText;
    EXPECT_EQ(std::count_if(stdoutText.begin(), stdoutText.end(),
                            [](char byte) { return static_cast<unsigned char>(byte) >= 0x80; }),
              0)
        << stdoutText;
    EXPECT_NE(stdoutText.find("\\\\caf\\u00e9\\u00ff\""), std::string::npos) << stdoutText;
    const json doc = json::parse(stdoutText);
    EXPECT_EQ(doc["hive"], c.inJson);
    EXPECT_EQ(doc["keys"].back()["path"], kCs1 + "\\Control\\caf\xC3\xA9\xC3\xBF");
  }
  EXPECT_NE(stdoutText.find("smile\\ud83d\\ude00"), std::string::npos) << stdoutText;
}

TEST_F(HiveFrontTest, EachRefusalHasOneLineAndItsCodeAndChangesNothing) {
  const std::string hive = MakeHive(1);
  const std::vector<std::uint8_t> sound = ReadBytes(hive);

  // Missing, and not a hive at all.
  EXPECT_EQ(Run({"--hive", folder.File("absent"), "status"}), 6);
  WriteBytes(folder.File("text"), std::vector<std::uint8_t>(8192, 'x'));
  EXPECT_EQ(Run({"--hive", folder.File("text"), "status"}), 6);
  EXPECT_TRUE(stdoutText.empty());
  EXPECT_EQ(std::count(stderrText.begin(), stderrText.end(), '\n'), 1) << stderrText;

  // Not cleanly saved.
  const std::vector<std::uint8_t> unsaved = NotCleanlySaved(sound);
  WriteBytes(hive, unsaved);
  EXPECT_EQ(Run({"--hive", hive, "status"}), 0);
  EXPECT_FALSE(stderrText.empty()) << "no warning for a hive that was not cleanly saved";
  EXPECT_EQ(Run({"--hive", hive, "secure"}), 7);
  EXPECT_EQ(ReadBytes(hive), unsaved);

  // Locked by another writer.
  WriteBytes(hive, sound);
  {
    HiveProblem problem;
    const auto writer = HiveRegistry::Open(hive, HiveAccess::kWrite, &problem);
    ASSERT_TRUE(writer) << problem.message;
    EXPECT_EQ(Run({"--hive", hive, "secure"}), 8);
    EXPECT_TRUE(stdoutText.empty());
  }
  EXPECT_EQ(ReadBytes(hive), sound);

  // The write-back failing at its first and at its last step that touches the hive: no report
  // of writes that never reached the file, one line, and the hive as it was.
  for (const CommitStep step : {CommitStep::kWriteNew, CommitStep::kReplace}) {
    SCOPED_TRACE(CommitStepName(step));
    EXPECT_EQ(Run({"--hive", hive, "secure"}, [&](CommitStep at) { return at != step; }), 8);
    EXPECT_TRUE(stdoutText.empty()) << stdoutText;
    EXPECT_EQ(std::count(stderrText.begin(), stderrText.end(), '\n'), 1) << stderrText;
    EXPECT_EQ(ReadBytes(hive), sound);
  }
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"SYSTEM", "text"}));

  EXPECT_EQ(Run({"status"}), 87);
  EXPECT_NE(stderrText.find("--hive PATH"), std::string::npos);
}

// check on an image: the same answer as on a running PC, and the hive untouched.
TEST_F(HiveFrontTest, CheckAnswersForTheImageAndLeavesItUntouched) {
  const std::string hive = MakeHive(1);
  const std::vector<std::uint8_t> before = ReadBytes(hive);
  // CurrentControlSet (001) and 001: Modem "d"; 003: Modem "A".
  EXPECT_EQ(Run({"--hive", hive, "check", "secure"}), 1);
  EXPECT_TRUE(stdoutText.ends_with("\nnot compliant: 2 of 3 keys not secure\n")) << stdoutText;
  EXPECT_EQ(stderrText, "");
  EXPECT_EQ(Run({"--hive", hive, "secure", "--no-backup"}), 0) << stderrText;
  EXPECT_EQ(Run({"--hive", hive, "check", "secure", "--json"}), 0);
  EXPECT_EQ(json::parse(stdoutText)["summary"], "compliant: secure (3 of 3 keys)");
  const std::vector<std::uint8_t> compliant = ReadBytes(hive);
  EXPECT_NE(compliant, before);
  EXPECT_EQ(Run({"--hive", hive, "check", "normal"}), 1);
  EXPECT_EQ(ReadBytes(hive), compliant);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"SYSTEM"}));
}

// A switch of a mixed image and its undo file, merged back with hivexregedit (written apart
// from this program): every key holds again exactly what it held, for names a .reg file must
// carry with care too.
TEST_F(HiveFrontTest, UndoFileMergedWithHivexregeditPutsEveryKeyBack) {
  for (const char* fixture : {"scan_roots.reg", "odd_names.reg"}) {
    for (const char* mode : {"secure", "normal"}) {
      SCOPED_TRACE(std::string(fixture) + " " + mode);
      MemoryRegistry tree;
      tree.LoadRegFile(std::string(MODEMCONFIG_FIXTURES_DIR) + "/" + fixture);
      tree.DeleteKey(kCcs);
      const std::string hive = folder.File("SYSTEM");
      const std::string undo = folder.File("undo.reg");
      BuildHive(hive, tree, 1);
      const std::vector<std::string> before = DialPrefixesRead(hive);
      ASSERT_GE(before.size(), 3u);

      ASSERT_EQ(Run({"--hive", hive, mode, "--no-backup", "--undo-file", undo}), 0) << stderrText;
      ASSERT_NE(DialPrefixesRead(hive), before) << "the switch changed nothing to undo";

      const std::string merge = "hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\\SYSTEM' '" +
                                hive + "' '" + undo + "' 2>&1";
      FILE* pipe = ::popen(merge.c_str(), "r");
      ASSERT_NE(pipe, nullptr);
      std::string said;
      char line[4096];
      while (std::fgets(line, sizeof(line), pipe)) said += line;
      EXPECT_EQ(::pclose(pipe), 0) << said;
      EXPECT_EQ(DialPrefixesRead(hive), before);
      std::remove(undo.c_str());
      std::remove(hive.c_str());
    }
  }
}

// With --json, every refusal is one document on standard output: the error, the exit code and
// what was read; standard error names keys in UTF-8 as standard output does. The files stay as
// they were.
TEST_F(HiveFrontTest, EveryRefusalWithJsonIsOneDocumentAndTheFilesStayAsTheyWere) {
  const std::string hive = MakeHive(1);
  const std::vector<std::uint8_t> sound = ReadBytes(hive);
  // Not cleanly saved: the first sequence number moved on, the header's checksum made right.
  std::vector<std::uint8_t> unsaved = sound;
  unsaved[4] += 1;
  std::uint32_t checksum = 0;
  for (std::size_t at = 0; at < 508; ++at) checksum ^= std::uint32_t{unsaved[at]} << 8 * (at % 4);
  for (int byte = 0; byte < 4; ++byte) {
    unsaved[508 + byte] = static_cast<std::uint8_t>(checksum >> (8 * byte));
  }
  WriteBytes(folder.File("unsaved"), unsaved);
  WriteBytes(folder.File("text"), std::vector<std::uint8_t>(8192, 'x'));
  MemoryRegistry odd;  // a modem key a .reg file cannot name: its undo file is refused
  odd.SetDword(kCs1 + "\\Control\\caf\xE9\nx", "TONE", 1);
  odd.SetDword(kCs1 + "\\Control\\caf\xE9\nx", "PULSE", 0);
  odd.SetString(kCs1 + "\\Control\\caf\xE9\nx", "DialPrefix", "D");
  BuildHive(folder.File("odd"), odd, 1);

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::optional<CommitStep> failedStep;
    int code;
    std::size_t keysRead;  // 0: none read
    const char* said;      // on standard error and in "error"
  };
  const Case cases[] = {
      {"Missing", {"--hive", folder.File("absent"), "status"}, {}, 6, 0, "absent"},
      {"NotAHive", {"--hive", folder.File("text"), "check", "secure"}, {}, 6, 0, "text"},
      {"NotCleanlySaved", {"--hive", folder.File("unsaved"), "secure"}, {}, 7, 0, "unsaved"},
      {"WriteBackFails",
       {"--hive", hive, "secure"},
       CommitStep::kWriteNew,
       8,
       3,
       "the hive is unchanged."},
      {"UndoFileRefused",
       {"--hive", folder.File("odd"), "secure", "--undo-file", folder.File("u.reg")},
       {},
       10,
       2,
       "caf\xC3\xA9"},
      {"NoHive", {"status"}, {}, 87, 0, "--hive PATH"},
  };
  // The hive as a file: which file (a new one renamed over it has another inode), its owner,
  // mode, size and time of change.
  const auto attributes = [&] {
    struct stat info {};
    EXPECT_EQ(::stat(hive.c_str(), &info), 0);
    return std::vector<long long>{static_cast<long long>(info.st_ino),
                                  info.st_uid,
                                  info.st_gid,
                                  info.st_mode,
                                  info.st_size,
                                  info.st_mtim.tv_sec,
                                  info.st_mtim.tv_nsec};
  };
  const std::vector<long long> before = attributes();
  const std::vector<std::string> entries = folder.Entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const auto hook = [&](CommitStep step) { return step != c.failedStep; };
    EXPECT_EQ(Run(args, hook), c.code);
    const std::string firstLine = stderrText.substr(0, stderrText.find('\n') + 1);
    EXPECT_NE(firstLine.find(c.said), std::string::npos) << stderrText;
    const json doc = json::parse(stdoutText);  // throws, failing the test, unless one document
    EXPECT_EQ(doc["exitCode"], c.code);
    EXPECT_EQ("modemprefix: " + doc["error"].get<std::string>() + "\n", firstLine);
    EXPECT_EQ(doc.contains("hive"), c.code != 87);
    EXPECT_EQ(doc.contains("keys") ? doc["keys"].size() : 0u, c.keysRead) << doc.dump();
    EXPECT_FALSE(doc.contains("written")) << doc.dump();
    EXPECT_EQ(ReadBytes(hive), sound);
    EXPECT_EQ(attributes(), before);
    EXPECT_EQ(folder.Entries(), entries);
  }

  // Locked by another writer.
  HiveProblem problem;
  const auto writer = HiveRegistry::Open(hive, HiveAccess::kWrite, &problem);
  ASSERT_TRUE(writer) << problem.message;
  EXPECT_EQ(Run({"--hive", hive, "normal", "--json"}), 8);
  EXPECT_EQ(json::parse(stdoutText)["exitCode"], 8);
}

// The built program with its standard output on a full device, or closed: the report is lost,
// so the run fails with 29 and says why; a switch has still written the hive.
TEST_F(HiveFrontTest, AReportThatCannotBeWrittenFailsTheRunWith29) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this machine";
  const std::string hive = MakeHive(1);
  const std::string errors = folder.File("stderr");
  const auto run = [&](const std::string& command, const std::string& redirection) {
    std::string line = "'" MODEMPREFIX_EXE "' --hive '";
    line += hive + "' " + command + " " + redirection + " 2>'" + errors + "'";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  const auto said = [&] {
    const std::vector<std::uint8_t> bytes = ReadBytes(errors);
    return std::string(bytes.begin(), bytes.end());
  };
  const struct {
    const char* command;
    const char* redirection;
    int code;
    const char* reason;  // "" when standard error stays empty
  } cases[] = {
      {"status --json", ">/dev/null", 0, ""},
      {"status --json", ">/dev/full", 29, "No space left on device"},
      {"check secure", ">&-", 29, "Bad file descriptor"},
      {"secure --no-backup", ">/dev/full", 29, "No space left on device"},
      {"secure --no-backup", ">/dev/full", 29, "No space left on device"},  // nothing to write
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.redirection);
    EXPECT_EQ(run(c.command, c.redirection), c.code) << said();
    if (*c.reason == '\0') {
      EXPECT_EQ(said(), "");
    } else {
      EXPECT_EQ(said(), std::string("modemprefix: the report could not be written to standard "
                                    "output: ") +
                            c.reason + "\n");
    }
  }
  EXPECT_EQ(run("status --json", ">'" + folder.File("out") + "'"), 0);
  const std::vector<std::uint8_t> out = ReadBytes(folder.File("out"));
  EXPECT_EQ(json::parse(std::string(out.begin(), out.end()))["mode"], "secure");
}

// Windows starts from the set Select\Default names, whatever set the last boot used: that is
// the one switched, checked and named in the undo file.
TEST_F(HiveFrontTest, TheSetWindowsStartsFromIsTheOneSwitchedCheckedAndUndone) {
  const std::string hive = MakeHive(1);  // Current = 1
  SetDefault(hive, 2);
  const std::string undo = folder.File("undo.reg");
  ASSERT_EQ(Run({"--hive", hive, "secure", "--no-backup", "--undo-file", undo, "--json"}), 0)
      << stderrText;
  const json doc = json::parse(stdoutText);
  EXPECT_NE(doc["notes"][0].get<std::string>().find(
                "CurrentControlSet is ControlSet002 (Select\\Default = 2"),
            std::string::npos)
      << doc["notes"];
  EXPECT_NE(doc["notes"][0].get<std::string>().find("Select\\Current = 1"), std::string::npos);
  EXPECT_EQ(DialPrefixesRead(hive), kEveryModemSecure);
  const std::vector<std::uint8_t> text = ReadBytes(undo);
  EXPECT_NE(std::string(text.begin(), text.end()).find("SYSTEM\\ControlSet002\\Control"),
            std::string::npos);
  EXPECT_EQ(Run({"--hive", hive, "check", "secure"}), 0) << stdoutText;
}

// A part of the hive that cannot be read: what could be read is listed with a warning naming
// the key, and the exit code says the hive is not whole; nothing is written.
TEST_F(HiveFrontTest, AnUnreadablePartIsNamedAndNoSwitchWritesPastIt) {
  const std::string hive = MakeHive(1);
  BreakSubkeyList(hive, {"ControlSet003", "Control"});
  const std::vector<std::uint8_t> broken = ReadBytes(hive);
  {
    // The registry's own answer for the key: a failure, never made-up counts.
    auto registry = OpenHive(hive, HiveAccess::kRead);
    RegKeyHandle key = nullptr;
    ASSERT_EQ(registry->OpenKey("SYSTEM\\ControlSet003\\Control", &key), regstatus::kSuccess);
    RegKeyInfo info{};
    EXPECT_EQ(registry->QueryKey(key, &info), regstatus::kGenFailure);
    EXPECT_EQ(registry->CloseKey(key), regstatus::kSuccess);
    EXPECT_EQ(registry->UnreadableKeys(),
              std::vector<std::string>{"SYSTEM\\ControlSet003\\Control"});
  }
  const std::string warning =
      "the key SYSTEM\\ControlSet003\\Control cannot be read (the hive is damaged there)";

  EXPECT_EQ(Run({"--hive", hive, "status"}), 6) << stderrText;
  EXPECT_NE(stdoutText.find("Warning: " + warning), std::string::npos) << stdoutText;
  EXPECT_NE(stdoutText.find(kCs1 + kModem), std::string::npos) << "what was read is listed";
  for (const char* command : {"status", "check"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args = {"--hive", hive, command};
    if (std::string(command) == "check") args.push_back("secure");
    args.push_back("--json");
    EXPECT_EQ(Run(args), 6);
    const json doc = json::parse(stdoutText);
    EXPECT_EQ(doc["exitCode"], 6);
    ASSERT_EQ(doc["warnings"].size(), 1u);
    EXPECT_EQ(doc["warnings"][0].get<std::string>().rfind(warning, 0), 0u) << doc["warnings"];
    EXPECT_EQ(doc["keys"].size(), 2u);
  }
  EXPECT_EQ(Run({"--hive", hive, "secure", "--dry-run", "--json"}), 6);
  EXPECT_EQ(json::parse(stdoutText)["warnings"].size(), 1u);
  EXPECT_EQ(Run({"--hive", hive, "secure"}), 6);
  EXPECT_NE(stderrText.find(warning), std::string::npos) << stderrText;
  EXPECT_EQ(ReadBytes(hive), broken);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"SYSTEM"});
}

// A damaged key where the scan does not go: the switch writes the whole hive anew, so it is
// refused, a dry run too; status reads only what it lists and says nothing of it.
TEST_F(HiveFrontTest, ASwitchIsRefusedForADamagedKeyAnywhereInTheHive) {
  const std::string hive = MakeHive(1);
  // ControlSet002 is no root of the scan while CurrentControlSet is ControlSet001.
  ListAValuePastTheEnd(hive, "ControlSet002\\Control\\ScanFixture\\Modem");
  const std::vector<std::uint8_t> damaged = ReadBytes(hive);
  // The key is out of the scan's way: the report misses nothing, the write alone is refused.
  const std::string warning =
      "the key SYSTEM\\ControlSet002\\Control\\ScanFixture\\Modem cannot "
      "be read (the hive is damaged there): a switch writes the whole hive anew, so it does "
      "not write a damaged one";
  EXPECT_EQ(Run({"--hive", hive, "secure"}), 6) << stdoutText;
  EXPECT_NE(stderrText.find(warning + ". Nothing was written."), std::string::npos) << stderrText;
  EXPECT_EQ(Run({"--hive", hive, "normal", "--dry-run"}), 6);
  EXPECT_NE(stdoutText.find("Warning: " + warning + "\n"), std::string::npos) << stdoutText;
  EXPECT_EQ(Run({"--hive", hive, "secure", "--dry-run", "--json"}), 6);
  EXPECT_EQ(json::parse(stdoutText)["warnings"], json::array({warning}));
  EXPECT_EQ(Run({"--hive", hive, "status"}), 0) << stdoutText;
  EXPECT_EQ(stdoutText.find("damaged"), std::string::npos) << stdoutText;
  EXPECT_EQ(ReadBytes(hive), damaged);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"SYSTEM"});
}

// What a real run would refuse, a dry run refuses with the same code; a switch with nothing to
// write needs neither write access nor the lock.
TEST_F(HiveFrontTest, ADryRunPredictsTheRealRunAndNothingToWriteNeedsNoWriteAccess) {
  const std::string hive = MakeHive(1);
  const std::vector<std::uint8_t> unsaved = NotCleanlySaved(ReadBytes(hive));
  const std::vector<std::uint8_t> sound = ReadBytes(hive);
  ASSERT_EQ(Run({"--hive", hive, "secure", "--no-backup"}), 0) << stderrText;
  const std::vector<std::uint8_t> secure = ReadBytes(hive);

  struct Case {
    const char* name;
    std::vector<std::uint8_t> content;
    mode_t mode;
    bool locked;
    const char* command;
    int code;
  };
  const Case cases[] = {
      {"not cleanly saved", unsaved, 0644, false, "secure", 7},
      {"read-only", sound, 0444, false, "secure", 8},
      {"locked", sound, 0644, true, "secure", 8},
      {"read-only, already secure", secure, 0444, false, "secure", 0},
      {"locked, already secure", secure, 0644, true, "secure", 0},
      {"read-only, already secure, switched back", secure, 0444, false, "normal", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(hive, c.content);
    ASSERT_EQ(::chmod(hive.c_str(), c.mode), 0);
    std::unique_ptr<HiveRegistry> writer;
    if (c.locked) writer = OpenHive(hive, HiveAccess::kWrite);
    EXPECT_EQ(Run({"--hive", hive, c.command, "--dry-run"}), c.code) << stderrText;
    EXPECT_EQ(Run({"--hive", hive, c.command}), c.code) << stderrText;
    if (c.code != 0) {
      EXPECT_EQ(std::count(stderrText.begin(), stderrText.end(), '\n'), 1) << stderrText;
    }
    EXPECT_EQ(ReadBytes(hive), c.content);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"SYSTEM"});
    ASSERT_EQ(::chmod(hive.c_str(), 0644), 0);
  }
}

// The new hive in place, but the folder not flushed: its own code and line, which never says
// that nothing changed.
TEST_F(HiveFrontTest, ANewHiveInPlaceButNotConfirmedHasItsOwnCodeAndLine) {
  const std::string hive = MakeHive(1);
  const std::vector<std::uint8_t> before = ReadBytes(hive);
  EXPECT_EQ(Run({"--hive", hive, "secure"},
                [](CommitStep step) { return step != CommitStep::kSyncDirectory; }),
            9);
  EXPECT_EQ(std::count(stderrText.begin(), stderrText.end(), '\n'), 1) << stderrText;
  EXPECT_NE(stderrText.find("the new hive is in place; the old hive is kept as " + hive + ".bak"),
            std::string::npos)
      << stderrText;
  EXPECT_EQ(stderrText.find("unchanged"), std::string::npos) << stderrText;
  EXPECT_EQ(stderrText.find("Nothing was changed"), std::string::npos) << stderrText;
  EXPECT_EQ(ReadBytes(hive + ".bak"), before);
  EXPECT_NE(ReadBytes(hive), before);
}

TEST_F(HiveFrontTest, ALinkGivenAsTheHiveIsFollowedAndTheNoteSaysSo) {
  const std::string hive = MakeHive(1);
  const std::string link = folder.File("link");
  ASSERT_EQ(::symlink(hive.c_str(), link.c_str()), 0);
  EXPECT_EQ(Run({"--hive", link, "secure", "--json"}), 0) << stderrText;
  const json doc = json::parse(stdoutText);
  ASSERT_EQ(doc["notes"].size(), 2u);
  EXPECT_EQ(doc["notes"][1], link + " is a link: the hive is the file it points to, " + hive +
                                 ", which is written, with its backup beside it");
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"SYSTEM", "SYSTEM.bak", "link"}));
  EXPECT_EQ(Run({"--hive", hive, "check", "secure"}), 0);
  // The text names the files as Linux gives them, whatever the hive's code page.
  const std::string named = folder.File("donn\u00E9es");
  ASSERT_EQ(::symlink(hive.c_str(), named.c_str()), 0);
  EXPECT_EQ(Run({"--hive", named, "status"}), 0) << stderrText;
  EXPECT_NE(stdoutText.find("\nNote: " + named + " is a link: the hive is the file it points to, " +
                            hive + "\n"),
            std::string::npos)
      << stdoutText;
}

}  // namespace
