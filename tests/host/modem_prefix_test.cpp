// modemprefix's command line, exit codes and reports, on the in-memory registry.
#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/modem_prefix.h"
#include "scan_fixture.h"

namespace {

using nlohmann::json;

// ---- Parsing: every accepted line and every refusal.

struct ParseCase {
  const char* name;
  std::vector<std::string> args;
  bool hiveSupported;
  const char* error;  // "" when the line is accepted
  CliCommand command;
  bool dryRun, json;
  const char* hive;
  bool backup;
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, AcceptsOrRefusesWithTheReason) {
  const ParseCase& c = GetParam();
  const ParsedCommandLine parsed = ParseCommandLine(c.args, c.hiveSupported);
  if (*c.error != '\0') {
    EXPECT_FALSE(parsed.commandLine);
    EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    return;
  }
  ASSERT_TRUE(parsed.commandLine) << parsed.error;
  EXPECT_EQ(parsed.commandLine->command, c.command);
  EXPECT_EQ(parsed.commandLine->dryRun, c.dryRun);
  EXPECT_EQ(parsed.commandLine->json, c.json);
  EXPECT_EQ(parsed.commandLine->hivePath, c.hive);
  EXPECT_EQ(parsed.commandLine->backup, c.backup);
}

constexpr auto kStatus = CliCommand::kStatus;
constexpr auto kSecure = CliCommand::kSecure;
constexpr auto kNormal = CliCommand::kNormal;
constexpr auto kCheck = CliCommand::kCheck;

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseTest,
    ::testing::Values(
        ParseCase{"Status", {"status"}, false, "", kStatus, false, false, "", true},
        ParseCase{"StatusJson", {"--json", "status"}, false, "", kStatus, false, true, "", true},
        ParseCase{
            "SecureDryRun", {"secure", "--dry-run"}, false, "", kSecure, true, false, "", true},
        ParseCase{"NormalJson", {"normal", "--json"}, false, "", kNormal, false, true, "", true},
        ParseCase{
            "Help", {"status", "--help"}, false, "", CliCommand::kHelp, false, false, "", true},
        ParseCase{
            "Version", {"--version"}, false, "", CliCommand::kVersion, false, false, "", true},
        ParseCase{"Hive",
                  {"--hive", "/m/SYSTEM", "secure", "--no-backup"},
                  true,
                  "",
                  kSecure,
                  false,
                  false,
                  "/m/SYSTEM",
                  false},
        ParseCase{"HiveEquals",
                  {"--hive=/m/SYSTEM", "status"},
                  true,
                  "",
                  kStatus,
                  false,
                  false,
                  "/m/SYSTEM",
                  true},
        ParseCase{"Nothing", {}, false, "no command", kStatus, false, false, "", true},
        ParseCase{"UnknownCommand",
                  {"stauts"},
                  false,
                  "unknown command 'stauts'",
                  kStatus,
                  false,
                  false,
                  "",
                  true},
        ParseCase{"UnknownOption",
                  {"status", "--jsn"},
                  false,
                  "unknown option '--jsn'",
                  kStatus,
                  false,
                  false,
                  "",
                  true},
        ParseCase{"TwoCommands",
                  {"secure", "normal"},
                  false,
                  "more than one command",
                  kStatus,
                  false,
                  false,
                  "",
                  true},
        ParseCase{"DryRunStatus",
                  {"status", "--dry-run"},
                  false,
                  "--dry-run goes with",
                  kStatus,
                  false,
                  false,
                  "",
                  true},
        ParseCase{"HelpAndVersion",
                  {"--help", "--version"},
                  false,
                  "exclude each other",
                  kStatus,
                  false,
                  false,
                  "",
                  true},
        ParseCase{"HiveOnWindows",
                  {"--hive", "x", "status"},
                  false,
                  "Linux build",
                  kStatus,
                  false,
                  false,
                  "",
                  true},
        ParseCase{"HiveWithoutPath",
                  {"status", "--hive"},
                  true,
                  "needs the path",
                  kStatus,
                  false,
                  false,
                  "",
                  true},
        ParseCase{"BackupWithoutHive",
                  {"secure", "--no-backup"},
                  true,
                  "go with --hive",
                  kStatus,
                  false,
                  false,
                  "",
                  true},
        ParseCase{"BackupContradicted",
                  {"--hive", "h", "secure", "--backup", "--no-backup"},
                  true,
                  "contradict",
                  kStatus,
                  false,
                  false,
                  "",
                  true}),
    [](const auto& tested) { return std::string(tested.param.name); });

// ---- Exit codes: rights, then no modem, then a failed write, then a restart.

struct ExitCase {
  const char* name;
  RunOutcome outcome;
  int code;
};

class ExitCodeTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodeTest, FollowsTheOutcome) {
  EXPECT_EQ(ExitCodeFor(GetParam().outcome), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ExitCodeTest,
    ::testing::Values(ExitCase{"StatusFound", {kStatus, false, true, false, 0, 0, false}, 0},
                      ExitCase{"StatusNone", {kStatus, false, false, false, 0, 0, false}, 2},
                      ExitCase{
                          "NoRightsBeatsEverything", {kSecure, true, true, false, 1, 1, true}, 5},
                      ExitCase{"SwitchNone", {kSecure, false, false, false, 0, 0, false}, 2},
                      ExitCase{"NothingToChange", {kSecure, false, true, false, 0, 0, false}, 0},
                      ExitCase{"ChangedNoRestart", {kNormal, false, true, false, 2, 0, false}, 0},
                      ExitCase{"ChangedRestart", {kNormal, false, true, false, 2, 0, true}, 3010},
                      ExitCase{"FailedBeatsRestart", {kSecure, false, true, false, 1, 1, true}, 4},
                      ExitCase{"AllFailed", {kSecure, false, true, false, 0, 2, false}, 4},
                      ExitCase{"DryRun", {kSecure, false, true, true, 0, 0, false}, 0},
                      ExitCase{"DryRunNone", {kSecure, false, false, true, 0, 0, false}, 2},
                      ExitCase{"CheckInMode", {kCheck, false, true, false, 0, 0, false, 0}, 0},
                      ExitCase{"CheckNotInMode", {kCheck, false, true, false, 0, 0, false, 2}, 1},
                      ExitCase{"CheckNoModem", {kCheck, false, false, false, 0, 0, false, 0}, 0},
                      ExitCase{"CheckNoRights", {kCheck, true, true, false, 0, 0, false, 2}, 5}),
    [](const auto& tested) { return std::string(tested.param.name); });

// The words check and --undo-file add: what they take, and where they do not belong.
TEST(CheckAndUndoParseTest, TakeTheirWordAndRefuseTheWrongCompany) {
  struct Case {
    std::vector<std::string> args;
    const char* error;  // "" when accepted
    CliCommand command, checkMode;
    const char* undo;
  };
  const Case cases[] = {
      {{"check", "secure"}, "", CliCommand::kCheck, kSecure, ""},
      {{"--json", "check", "normal"}, "", CliCommand::kCheck, kNormal, ""},
      {{"check"}, "check needs the mode", kStatus, kSecure, ""},
      {{"check", "status"}, "check needs the mode", kStatus, kSecure, ""},
      {{"check", "--json", "secure"}, "check needs the mode", kStatus, kSecure, ""},
      {{"check", "secure", "normal"}, "more than one command", kStatus, kSecure, ""},
      {{"check", "secure", "--dry-run"}, "not with check", kStatus, kSecure, ""},
      {{"secure", "--undo-file", "u.reg"}, "", kSecure, kSecure, "u.reg"},
      {{"--undo-file=C:\\u.reg", "normal"}, "", kNormal, kSecure, "C:\\u.reg"},
      {{"secure", "--undo-file"}, "needs the path", kStatus, kSecure, ""},
      {{"secure", "--undo-file="}, "needs the path", kStatus, kSecure, ""},
      {{"secure", "--undo-file", "a", "--undo-file", "b"}, "given twice", kStatus, kSecure, ""},
      {{"status", "--undo-file", "u.reg"}, "not with status", kStatus, kSecure, ""},
      {{"check", "secure", "--undo-file", "u.reg"}, "not with check", kStatus, kSecure, ""},
      {{"secure", "--dry-run", "--undo-file", "u.reg"}, "not with --dry-run", kStatus, kSecure, ""},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = ParseCommandLine(c.args, false);
    const std::string words = ::testing::PrintToString(c.args);
    if (*c.error != '\0') {
      EXPECT_FALSE(parsed.commandLine) << words;
      EXPECT_NE(parsed.error.find(c.error), std::string::npos) << words << ": " << parsed.error;
      continue;
    }
    ASSERT_TRUE(parsed.commandLine) << words << ": " << parsed.error;
    EXPECT_EQ(parsed.commandLine->command, c.command) << words;
    if (c.command == CliCommand::kCheck) {
      EXPECT_EQ(parsed.commandLine->checkMode, c.checkMode) << words;
    }
    EXPECT_EQ(parsed.commandLine->undoPath, c.undo) << words;
  }
}

// ---- Whole runs on the in-memory registry.

std::optional<PlatformVersion> g_version;
std::optional<PlatformVersion> FakeVersion() { return g_version; }
std::optional<bool> g_elevated;
std::optional<bool> FakeElevated() { return g_elevated; }

// The undo files a run writes: what each path was given, and how many registry writes had been
// made when it was.
struct WrittenFile {
  std::string content;
  std::size_t registryWritesBefore = 0;
};
std::map<std::string, WrittenFile> g_files;
std::string g_fileProblem;  // what the next file write answers
const MemoryRegistry* g_registry = nullptr;
std::string FakeReplaceFile(const std::string& path, const std::string& content) {
  if (g_fileProblem.empty()) g_files[path] = {content, g_registry->Writes().size()};
  return g_fileProblem;
}

const std::string kCcs = "SYSTEM\\CurrentControlSet\\Control\\Class\\Modem\\";
const std::string kCs1 = "SYSTEM\\ControlSet001\\Control\\Class\\Modem\\";

class ModemPrefixRunTest : public ScanTest {
 protected:
  ModemPrefixRunTest() {
    g_version = PlatformVersion{kPlatformWin32Nt, 10, 0};
    g_elevated = true;
    g_files.clear();
    g_fileProblem.clear();
    g_registry = &registry;
  }

  int Run(std::vector<std::string> args) {
    CliSystem system{registry,           &FakeVersion, &FakeElevated, &PortableStatusText,
                     &Windows1252ToUtf8, notes};
    system.replaceFile = &FakeReplaceFile;
    system.recordSwitch = [this](const SwitchRecord& record) {
      records.push_back(record);
      return recordProblem;
    };
    ReportText out, err;
    const int code = RunModemPrefix(
        args, false,
        [&](const CommandLine& line, ReportText& report, ReportText& errors) {
          return RunCommand(line, system, report, errors);
        },
        out, err);
    stdoutText = out.str();
    stderrText = err.str();
    return code;
  }

  json Json(std::vector<std::string> args, int expectedCode) {
    args.push_back("--json");
    EXPECT_EQ(Run(args), expectedCode) << stderrText;
    return json::parse(stdoutText);  // throws, failing the test, on anything but one document
  }

  std::string Prefix(const std::string& path) const {
    const auto value = registry.GetValue(path, "DialPrefix");
    return value ? std::string(value->data.begin(), value->data.end() - 1) : "<missing>";
  }

  std::vector<std::string> notes;
  std::string stdoutText, stderrText;
  std::vector<SwitchRecord> records;  // what the run handed to the event log
  std::string recordProblem;          // what the event log answers
};

TEST_F(ModemPrefixRunTest, StatusListsEveryRecordAndNamesTheMode) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> modems;
    int code;
    const char* mode;
    const char* dialogMode;
    const char* line;
  };
  const Case cases[] = {
      {{}, 2, "none", "none", "No modem settings key found"},
      {{{"0000", "D"}, {"0001", "d"}}, 0, "normal", "normal", "Mode: normal (2 modem"},
      {{{"0000", "A"}}, 0, "secure", "secure", "Mode: secure (1 modem settings key)"},
      {{{"0000", "A"}, {"0001", "D"}}, 0, "mixed", "normal", "dialog would show normal"},
  };
  for (const Case& c : cases) {
    registry.DeleteKey("SYSTEM");
    for (const auto& [name, prefix] : c.modems) PlantModem(kCs1 + name, prefix);
    EXPECT_EQ(Run({"status"}), c.code);
    EXPECT_NE(stdoutText.find(c.line), std::string::npos) << stdoutText;
    for (const auto& [name, prefix] : c.modems) {
      EXPECT_NE(stdoutText.find(kCs1 + name + "  " + static_cast<char>(std::toupper(prefix[0]))),
                std::string::npos)
          << stdoutText;
    }
    const json doc = Json({"status"}, c.code);
    EXPECT_EQ(doc["mode"], c.mode);
    EXPECT_EQ(doc["dialogMode"], c.dialogMode);
    EXPECT_EQ(doc["keys"].size(), c.modems.size());
    EXPECT_EQ(doc["exitCode"], c.code);
    EXPECT_TRUE(registry.Writes().empty());
  }
}

TEST_F(ModemPrefixRunTest, SwitchWritesWhatTheDialogWritesAndReportsEachKey) {
  PlantModem(kCs1 + "0000", "D");
  PlantModem(kCs1 + "0001", "A");
  registry.AddAlias("SYSTEM\\CurrentControlSet", "SYSTEM\\ControlSet001");

  const json doc = Json({"secure"}, 3010);

  std::vector<std::string> written;
  for (const auto& write : registry.Writes()) written.push_back(write.path + "=" + write.text);
  EXPECT_EQ(written, (std::vector<std::string>{kCcs + "0000=A", kCs1 + "0000=A"}));
  ASSERT_EQ(doc["written"].size(), 2u);
  EXPECT_EQ(doc["written"][0]["path"], kCcs + "0000");
  EXPECT_EQ(doc["written"][0]["newPrefix"], "A");
  EXPECT_EQ(doc["unchanged"].size(), 2u);
  EXPECT_TRUE(doc["failed"].empty());
  EXPECT_EQ(doc["restartNeeded"], true);

  // Everything is in the mode now: nothing more to write, no restart.
  EXPECT_EQ(Run({"secure"}), 0);
  EXPECT_EQ(registry.Writes().size(), 2u);
  EXPECT_NE(stdoutText.find("0 written, 4 already in the mode, 0 failed."), std::string::npos)
      << stdoutText;
}

TEST_F(ModemPrefixRunTest, FailedWriteGivesFourAndTheOthersAreStillWritten) {
  PlantModem(kCs1 + "0000", "A");
  PlantModem(kCs1 + "0001", "A");
  PlantModem(kCs1 + "0002", "A");
  registry.FailWrite(kCs1 + "0001", regstatus::kAccessDenied);

  EXPECT_EQ(Run({"normal"}), 4);
  EXPECT_EQ(Prefix(kCs1 + "0000"), "D");
  EXPECT_EQ(Prefix(kCs1 + "0001"), "A");
  EXPECT_EQ(Prefix(kCs1 + "0002"), "D");
  EXPECT_NE(stderrText.find("could not write " + kCs1 + "0001: error 5: Access is denied."),
            std::string::npos)
      << stderrText;

  const json doc = Json({"normal"}, 4);  // the write still fails; the others are "D" now
  ASSERT_EQ(doc["failed"].size(), 1u);
  EXPECT_EQ(doc["failed"][0]["status"], 5);
  EXPECT_EQ(doc["failed"][0]["error"], "Access is denied.");
}

TEST_F(ModemPrefixRunTest, RestartOnlyAfterASuccessfulWriteOnNt) {
  PlantModem(kCs1 + "0000", "D");
  g_version = PlatformVersion{1, 4, 10};  // not of the NT family
  EXPECT_EQ(Run({"secure"}), 0);
  EXPECT_EQ(Prefix(kCs1 + "0000"), "A");
  g_version = std::nullopt;  // the version query failed
  EXPECT_EQ(Run({"normal"}), 0);
  g_version = PlatformVersion{kPlatformWin32Nt, 6, 1};
  EXPECT_EQ(Run({"secure"}), 3010);
  EXPECT_NE(stdoutText.find("Restart the PC"), std::string::npos);
  // On NT, but the only write failed: nothing changed, so no restart.
  registry.FailWrite(kCs1 + "0000");
  EXPECT_EQ(Json({"normal"}, 4)["restartNeeded"], false);
}

TEST_F(ModemPrefixRunTest, DryRunWritesNothing) {
  PlantModem(kCs1 + "0000", "D");
  PlantModem(kCs1 + "0001", "A");
  const json doc = Json({"secure", "--dry-run"}, 0);
  EXPECT_TRUE(registry.Writes().empty());
  EXPECT_EQ(doc["dryRun"], true);
  ASSERT_EQ(doc["written"].size(), 1u);
  EXPECT_EQ(doc["written"][0]["path"], kCs1 + "0000");
  EXPECT_EQ(Run({"normal", "--dry-run"}), 0);
  EXPECT_NE(stdoutText.find("would write"), std::string::npos);
  EXPECT_TRUE(registry.Writes().empty());

  registry.DeleteKey("SYSTEM");
  EXPECT_EQ(Run({"secure", "--dry-run"}), 2);
}

TEST_F(ModemPrefixRunTest, WithoutRightsSaysSoAndWritesNothing) {
  PlantModem(kCs1 + "0000", "D");
  PlantModem("SYSTEM\\ControlSet003\\Modem", "D");

  g_elevated = false;
  EXPECT_EQ(Run({"secure"}), 5);
  EXPECT_NE(stderrText.find("administrator"), std::string::npos);

  // A token that cannot be read leaves it to the roots: one that exists and refuses access.
  g_elevated = std::nullopt;
  registry.DenyAccess("SYSTEM\\ControlSet003");
  EXPECT_EQ(Run({"secure", "--json"}), 5);
  EXPECT_NE(stderrText.find("SYSTEM\\ControlSet003 was denied"), std::string::npos);
  EXPECT_TRUE(registry.Writes().empty());

  // A missing root is no sign of missing rights.
  registry.DeleteKey("SYSTEM\\ControlSet003");
  EXPECT_EQ(Run({"secure"}), 3010);
}

TEST_F(ModemPrefixRunTest, AnyKeyNameGivesValidJsonThatNamesItExactly) {
  const std::vector<std::string> names = {
      "quote\"and\\x",  // the backslash makes a subkey x
      std::string("line\nfeed\x01"),
      "caf\xE9",  // a letter of the code page
      "und\x81",  // a byte the code page leaves undefined
      "und\x8D",  // another one: must stay apart from the first
      "tab\there",
  };
  for (const std::string& name : names) PlantModem(kCs1 + name, "D");
  const json doc = Json({"status"}, 0);
  ASSERT_EQ(doc["keys"].size(), names.size());
  std::set<std::string> seen;
  for (const json& key : doc["keys"]) {
    std::string identity = key["path"].get<std::string>();
    if (key.contains("pathBytes")) {
      identity += '|';
      identity += key["pathBytes"].get<std::string>();
    }
    EXPECT_TRUE(seen.insert(identity).second) << "two keys look alike: " << identity;
  }
  EXPECT_TRUE(seen.count(kCs1 + "caf\xC3\xA9")) << doc.dump();
  EXPECT_TRUE(seen.count(kCs1 + "quote\"and\\x"));
  EXPECT_TRUE(seen.count(kCs1 + "line\nfeed\x01"));
  // Text output shows control characters as '?' so the terminal shows one line a key.
  EXPECT_EQ(Run({"status"}), 0);
  EXPECT_NE(stdoutText.find(kCs1 + "line?feed? "), std::string::npos) << stdoutText;
  EXPECT_EQ(std::count(stdoutText.begin(), stdoutText.end(), '\n'), names.size() + 1);
}

TEST_F(ModemPrefixRunTest, NotesComeFirstAndJoinTheJsonDocument) {
  notes = {"no current control set"};
  EXPECT_EQ(Run({"status"}), 2);
  EXPECT_EQ(stdoutText.rfind("Note: no current control set\n", 0), 0u) << stdoutText;
  const json doc = Json({"status"}, 2);
  EXPECT_EQ(doc["notes"], json::array({"no current control set"}));
}

TEST_F(ModemPrefixRunTest, BadCommandLineGivesUsageOnStandardErrorAndTouchesNothing) {
  PlantModem(kCs1 + "0000", "D");
  EXPECT_EQ(Run({"secure", "--force"}), 87);
  EXPECT_TRUE(stdoutText.empty());
  EXPECT_NE(stderrText.find("usage: modemprefix"), std::string::npos);
  EXPECT_EQ(registry.CallCounts().Total(), 0u);
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(stdoutText.find("3010"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(stdoutText, "modemprefix 1.0.0.1\n");
}

// ---- check: detection in one call.

TEST_F(ModemPrefixRunTest, CheckAnswersWithOneLastLineAndNeverWrites) {
  struct Case {
    std::vector<const char*> prefixes;  // one modem each, 0000, 0001, ...
    const char* mode;
    int code;
    const char* lastLine;
    std::size_t notInMode;
  };
  const Case cases[] = {
      {{}, "secure", 0, "compliant: no modem settings key (nothing to switch)", 0},
      {{"D", "d"}, "normal", 0, "compliant: normal (2 of 2 keys)", 0},
      {{"A", "A", "a"}, "secure", 0, "compliant: secure (3 of 3 keys)", 0},
      {{"A", "D", "A"}, "secure", 1, "not compliant: 1 of 3 keys not secure", 1},
      {{"A", "D", "A"}, "normal", 1, "not compliant: 2 of 3 keys not normal", 2},
      {{"A"}, "normal", 1, "not compliant: 1 of 1 key not normal", 1},
  };
  for (const Case& c : cases) {
    registry.DeleteKey("SYSTEM");
    for (std::size_t i = 0; i < c.prefixes.size(); ++i) {
      PlantModem(kCs1 + "000" + std::to_string(i), c.prefixes[i]);
    }
    EXPECT_EQ(Run({"check", c.mode}), c.code) << c.lastLine;
    const std::string last = "\n" + std::string(c.lastLine) + "\n";
    EXPECT_TRUE(("\n" + stdoutText).ends_with(last)) << stdoutText;
    EXPECT_EQ(stderrText, "");

    const json doc = Json({"check", c.mode}, c.code);
    EXPECT_EQ(doc["command"], "check");
    EXPECT_EQ(doc["checkMode"], c.mode);
    EXPECT_EQ(doc["compliant"], c.code == 0);
    EXPECT_EQ(doc["keysNotInMode"], c.notInMode);
    EXPECT_EQ(doc["summary"], c.lastLine);
    EXPECT_EQ(doc["keys"].size(), c.prefixes.size());
    EXPECT_EQ(stderrText, "");
  }
  EXPECT_TRUE(registry.Writes().empty());
  EXPECT_TRUE(records.empty());
  EXPECT_TRUE(g_files.empty());
}

// ---- --undo-file: exact undo of a switch.

TEST_F(ModemPrefixRunTest, UndoFileIsWholeBeforeTheFirstWriteAndNamesOnlyKeysThatChange) {
  PlantModem(kCs1 + "0000", "D");
  PlantModem(kCs1 + "0001", "A");
  PlantModem(kCs1 + "0002\"q\xe9", "d");

  EXPECT_EQ(Run({"secure", "--undo-file", "undo.reg"}), 3010) << stderrText;

  ASSERT_EQ(g_files.count("undo.reg"), 1u);
  EXPECT_EQ(g_files["undo.reg"].registryWritesBefore, 0u);
  EXPECT_EQ(g_files["undo.reg"].content,
            "REGEDIT4\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\" +
                kCs1 +
                "0000]\r\n\"DialPrefix\"=\"D\"\r\n"
                "\r\n[HKEY_LOCAL_MACHINE\\" +
                kCs1 + "0002\"q\xe9]\r\n\"DialPrefix\"=\"d\"\r\n");
  EXPECT_EQ(registry.Writes().size(), 2u);

  // Nothing left to change: the file says so by naming no key.
  EXPECT_EQ(Run({"secure", "--undo-file", "again.reg"}), 0);
  EXPECT_EQ(g_files["again.reg"].content, "REGEDIT4\r\n");
}

TEST_F(ModemPrefixRunTest, UndoFileThatCannotBeWrittenStopsTheSwitchBeforeAnyWrite) {
  struct Case {
    const char* keyName;
    const char* fileProblem;
    const char* said;
  };
  const Case cases[] = {
      {"0000", "cannot create undo.reg: No space left on device", "No space left on device"},
      {"00\n01", "", "line break or a zero byte"},
  };
  for (const Case& c : cases) {
    registry.DeleteKey("SYSTEM");
    PlantModem(kCs1 + c.keyName, "D");
    PlantModem(kCs1 + "0009", "D");
    g_fileProblem = c.fileProblem;
    EXPECT_EQ(Run({"secure", "--json", "--undo-file", "undo.reg"}), 10) << c.said;
    EXPECT_NE(stderrText.find("undo file undo.reg could not be written"), std::string::npos);
    EXPECT_NE(stderrText.find(c.said), std::string::npos) << stderrText;
    EXPECT_NE(stderrText.find("Nothing was written."), std::string::npos) << stderrText;
    EXPECT_EQ(stdoutText, "");
    EXPECT_TRUE(registry.Writes().empty());
    EXPECT_TRUE(records.empty());
  }
}

// ---- The record of each switch that writes.

TEST_F(ModemPrefixRunTest, OnlyASwitchThatWritesIsRecordedWithEveryKeyTried) {
  PlantModem(kCs1 + "0000", "A");
  PlantModem(kCs1 + "0001", "D");
  PlantModem(kCs1 + "0002", "A");
  registry.FailWrite(kCs1 + "0002", regstatus::kAccessDenied);
  struct Case {
    std::vector<std::string> args;
    std::size_t recordsAfter;
  };
  const Case cases[] = {
      {{"status"}, 0},           {{"check", "normal"}, 0}, {{"normal", "--dry-run"}, 0},
      {{"secure"}, 1},           {{"secure"}, 1},  // all "A" now: nothing tried
      {{"normal", "--json"}, 2},
  };
  for (const Case& c : cases) {
    Run(c.args);
    EXPECT_EQ(records.size(), c.recordsAfter) << ::testing::PrintToString(c.args);
  }
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].target, TargetMode::kSecureAccess);
  EXPECT_EQ(records[0].keys,
            (std::vector<SwitchedKey>{{kCs1 + "0001", "D", "A", regstatus::kSuccess}}));
  EXPECT_FALSE(records[0].AnyFailed());
  EXPECT_EQ(records[1].target, TargetMode::kNormalOperation);
  EXPECT_EQ(records[1].keys,
            (std::vector<SwitchedKey>{{kCs1 + "0000", "A", "D", regstatus::kSuccess},
                                      {kCs1 + "0001", "A", "D", regstatus::kSuccess},
                                      {kCs1 + "0002", "A", "D", regstatus::kAccessDenied}}));
  EXPECT_TRUE(records[1].AnyFailed());
  EXPECT_EQ(SwitchedKeysText(records[1], &PortableStatusText),
            kCs1 + "0000: A -> D\n" + kCs1 + "0001: A -> D\n" + kCs1 +
                "0002: A -> D failed: error 5: Access is denied.");
}

TEST_F(ModemPrefixRunTest, ARecordThatFailsIsToldButNeitherUndoesNorChangesTheSwitch) {
  PlantModem(kCs1 + "0000", "D");
  recordProblem = "error 1502: The event log file is full.";
  EXPECT_EQ(Run({"secure"}), 3010);
  EXPECT_EQ(Prefix(kCs1 + "0000"), "A");
  EXPECT_EQ(stderrText,
            "modemprefix: the switch could not be recorded in the event log: error 1502: The "
            "event log file is full.\n");
  EXPECT_EQ(records.size(), 1u);
}

}  // namespace
