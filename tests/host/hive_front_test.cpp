// modemprefix on an offline SYSTEM hive: the records the dialog would make once the PC has
// booted, the write-back, and one exit code for each way a hive can be refused.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/hive_front.h"
#include "tests/common/hive_fixture.h"

#ifndef MODEMCONFIG_FIXTURES_DIR
#error "MODEMCONFIG_FIXTURES_DIR must name tests/fixtures"
#endif

namespace {

using nlohmann::json;

const std::string kModem = "\\Control\\ScanFixture\\Modem";
const std::string kCcs = "SYSTEM\\CurrentControlSet";
const std::string kCs1 = "SYSTEM\\ControlSet001";
const std::string kCs3 = "SYSTEM\\ControlSet003";

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
  const std::vector<std::string> expected = {
      "/ControlSet001/Control/ScanFixture/Modem/dialprefix,SZ,A,",
      "/ControlSet001/Control/ScanFixture/WrongPrefix/DialPrefix,SZ,ATD,",
      "/ControlSet002/Control/ScanFixture/Modem/DialPrefix,SZ,A,",
      "/ControlSet003/Control/ScanFixture/Modem/DialPrefix,SZ,A,",
  };
  EXPECT_EQ(DialPrefixesRead(hive), expected);

  EXPECT_EQ(Run({"--hive", hive, "normal", "--no-backup"}), 0) << stderrText;
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"SYSTEM", "SYSTEM.bak"}));
  EXPECT_EQ(Run({"--hive", hive, "status", "--json"}), 0);
  EXPECT_EQ(json::parse(stdoutText)["mode"], "normal");
}

TEST_F(HiveFrontTest, TextAndJsonAreUtf8WhateverTheNames) {
  // A modem key named café in the hive's code page (é is 0xE9), in a file whose name is UTF-8
  // as Linux gives it, and in one whose name is not UTF-8 at all.
  const std::string key = kCs1 + "\\Control\\caf\xE9";
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    BuildHive(c.file, tree, 1);
    ASSERT_EQ(Run({"--hive", c.file, "status"}), 0) << stderrText;
    EXPECT_NE(stdoutText.find(kCs1 + "\\Control\\caf\xC3\xA9 "), std::string::npos) << stdoutText;
    ASSERT_EQ(Run({"--hive", c.file, "status", "--json"}), 0) << stderrText;
    const json doc = json::parse(stdoutText);
    EXPECT_EQ(doc["hive"], c.inJson);
    EXPECT_EQ(doc["keys"].back()["path"], kCs1 + "\\Control\\caf\xC3\xA9");
  }
}

TEST_F(HiveFrontTest, EachRefusalHasOneLineAndItsCodeAndChangesNothing) {
  const std::string hive = MakeHive(1);
  const std::vector<std::uint8_t> sound = ReadBytes(hive);

  // Missing, and not a hive at all.
  EXPECT_EQ(Run({"--hive", folder.File("absent"), "status"}), 6);
  WriteBytes(folder.File("text"), std::vector<std::uint8_t>(8192, 'x'));
  EXPECT_EQ(Run({"--hive", folder.File("text"), "status", "--json"}), 6);
  EXPECT_TRUE(stdoutText.empty());
  EXPECT_EQ(std::count(stderrText.begin(), stderrText.end(), '\n'), 1) << stderrText;

  // Not cleanly saved: the first sequence number moved on, the second did not (the header's
  // checksum made right again, so only the sequence numbers tell).
  std::vector<std::uint8_t> unsaved = sound;
  unsaved[4] += 1;
  std::uint32_t checksum = 0;
  for (std::size_t at = 0; at < 508; at += 4) {
    checksum ^= static_cast<std::uint32_t>(unsaved[at] | unsaved[at + 1] << 8 |
                                           unsaved[at + 2] << 16 | unsaved[at + 3] << 24);
  }
  for (int byte = 0; byte < 4; ++byte) {
    unsaved[508 + byte] = static_cast<std::uint8_t>(checksum >> (8 * byte));
  }
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

}  // namespace
