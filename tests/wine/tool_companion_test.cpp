// The real modemprefix.exe on Wine's real registry: exit codes as Windows hands them to a
// deployment system (3010 whole), what each command writes, its JSON read by a real parser,
// and agreement with the dialog on the same registry.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/memory_registry.h"
#include "tool_driver.h"
#include "tool_expected.h"

namespace {

using nlohmann::json;

ConsoleRun Companion(const std::string& arguments) {
  return RunConsoleProgram(CompanionExecutablePath(), arguments);
}

json ParseJson(const ConsoleRun& run) {
  try {
    return json::parse(run.out);
  } catch (const json::exception& error) {
    ADD_FAILURE() << "not one JSON document: " << error.what() << "\n" << run.out;
    return json();
  }
}

std::optional<RegistryValue> DialPrefixAt(const std::string& keyPath) {
  return ReadMachineValue(keyPath, "DialPrefix");
}

// Puts a modem settings key holding "D" below `base` for each name into the real registry.
std::string ImportModems(RealRegistryFixture& registry, const std::string& base,
                         const std::vector<std::string>& names) {
  MemoryRegistry tree;
  for (const std::string& name : names) {
    tree.SetDword(base + name, "TONE", 1);
    tree.SetDword(base + name, "PULSE", 0);
    tree.SetString(base + name, "DIALPREFIX", "D");
  }
  return registry.Import(tree);
}

// ---- Each command on the typical, mixed, all-secure and empty registries.

struct CompanionCase {
  const char* name;
  const char* ccsPrefix;  // nullptr: no modem imported at all
  const char* cs1Prefix;
  const char* mode;        // status --json "mode"
  const char* dialogMode;  // and "dialogMode"
  const char* dialogStatus;
  DWORD secureCode;  // exit code of `secure`
  const char* ccsAfter;
  const char* cs1After;
  friend void PrintTo(const CompanionCase& c, std::ostream* out) { *out << c.name; }
};

const CompanionCase kCases[] = {
    {"Typical", "D", "D", "normal", "normal", kStatusNormal, 3010, "A", "A"},
    {"Mixed", "D", "a", "mixed", "secure", kStatusSecure, 3010, "A", "a"},
    {"AllSecure", "A", "A", "secure", "secure", kStatusSecure, 0, "A", "A"},
    {"NoModem", nullptr, nullptr, "none", "none", kStatusNone, 2, nullptr, nullptr},
};

class CompanionTest : public ToolTest, public ::testing::WithParamInterface<CompanionCase> {};

TEST_P(CompanionTest, StatusAgreesWithTheDialogAndSecureWritesWhatOkWould) {
  const CompanionCase& c = GetParam();
  if (c.ccsPrefix) {
    ASSERT_EQ(ImportDemoModem(registry, c.ccsPrefix, c.cs1Prefix), "");
  }

  const ConsoleRun status = Companion("status --json");
  EXPECT_EQ(status.exitCode, std::optional<DWORD>(c.ccsPrefix ? 0 : 2)) << status.err;
  const json doc = ParseJson(status);
  EXPECT_EQ(doc["mode"], c.mode);
  EXPECT_EQ(doc["dialogMode"], c.dialogMode);
  if (c.ccsPrefix) {
    ASSERT_EQ(doc["keys"].size(), 2u);
    EXPECT_EQ(doc["keys"][0]["path"], kCcsDemoModem);
    EXPECT_EQ(doc["keys"][1]["path"], kCs1DemoModem);
  }

  {
    ToolRun dialog;
    ASSERT_EQ(dialog.Start(), "");
    EXPECT_EQ(dialog.StatusText(), c.dialogStatus);
    dialog.PostClick(IDCANCEL);
    EXPECT_EQ(dialog.WaitForExit(), std::optional<DWORD>(0));
  }

  const ConsoleRun dryRun = Companion("secure --dry-run");
  EXPECT_EQ(dryRun.exitCode, std::optional<DWORD>(c.ccsPrefix ? 0 : 2)) << dryRun.err;
  if (c.ccsPrefix) {
    EXPECT_EQ(DialPrefixAt(kCcsDemoModem), StringValue(c.ccsPrefix));
    EXPECT_EQ(DialPrefixAt(kCs1DemoModem), StringValue(c.cs1Prefix));
  }

  const ConsoleRun secure = Companion("secure");
  EXPECT_EQ(secure.exitCode, std::optional<DWORD>(c.secureCode)) << secure.out << secure.err;
  if (c.ccsPrefix) {
    EXPECT_EQ(DialPrefixAt(kCcsDemoModem), StringValue(c.ccsAfter));
    EXPECT_EQ(DialPrefixAt(kCs1DemoModem), StringValue(c.cs1After));
    // Everything recorded as "D" is secure now: a second run has nothing to do.
    EXPECT_EQ(Companion("secure").exitCode, std::optional<DWORD>(0));
  } else {
    EXPECT_NE(secure.err.find("no modem settings key found"), std::string::npos) << secure.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Registries, CompanionTest, ::testing::ValuesIn(kCases), CaseName());

TEST_F(ToolTest, CompanionNormalJsonReportsEveryWriteAndTheRestart) {
  ASSERT_EQ(ImportDemoModem(registry, "A", "A"), "");
  const ConsoleRun run = Companion("normal --json");
  EXPECT_EQ(run.exitCode, std::optional<DWORD>(3010)) << run.err;
  const json doc = ParseJson(run);
  EXPECT_EQ(doc["exitCode"], 3010);
  EXPECT_EQ(doc["restartNeeded"], true);
  ASSERT_EQ(doc["written"].size(), 2u);
  EXPECT_EQ(doc["written"][1]["path"], kCs1DemoModem);
  EXPECT_EQ(doc["written"][1]["newPrefix"], "D");
  EXPECT_EQ(DialPrefixAt(kCs1DemoModem), StringValue("D"));
}

TEST_F(ToolTest, CompanionNamesHostileKeysInValidJsonAndInTheConsoleCodePage) {
  // Names the registry allows and a careless writer would break JSON with, each a modem key.
  const std::string base = "SYSTEM\\CurrentControlSet\\Control\\CompanionNames\\";
  ASSERT_EQ(
      ImportModems(registry, base, {"quote\"d", "caf\xE9", std::string("ctl\x01\x1F"), "tab\tbed"}),
      "");

  const ConsoleRun run = Companion("status --json");
  EXPECT_EQ(run.exitCode, std::optional<DWORD>(0)) << run.err;
  const json doc = ParseJson(run);
  std::vector<std::string> found;
  for (const json& key : doc["keys"]) {
    const std::string path = key["path"];
    if (path.starts_with(base)) found.push_back(path.substr(base.size()));
  }
  // The document is ASCII, é escaped; Wine's code page is Windows-1252, so it parses as é.
  EXPECT_EQ(std::count_if(run.out.begin(), run.out.end(),
                          [](char c) { return static_cast<unsigned char>(c) >= 0x80; }),
            0)
      << run.out;
  EXPECT_NE(run.out.find("caf\\u00e9"), std::string::npos) << run.out;
  const std::vector<std::string> expected = {"caf\xC3\xA9", std::string("ctl\x01\x1F"), "quote\"d",
                                             "tab\tbed"};
  EXPECT_EQ(found, expected) << run.out;

  // Text for people goes out in the console's code page, which a reader of the pipe decodes it
  // with: Wine's is 437, where é is 0x82 (0xE9, its Windows-1252 byte, would show as Θ).
  const ConsoleRun text = Companion("status");
  EXPECT_EQ(text.exitCode, std::optional<DWORD>(0)) << text.err;
  EXPECT_NE(text.out.find(base + "caf\x82 "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(base + "ctl?? "), std::string::npos) << text.out;
  // Lines end in CR LF, as a Windows program's redirected text does.
  const auto count = [&](const std::string& what) {
    std::size_t seen = 0;
    for (auto at = text.out.find(what); at != std::string::npos; at = text.out.find(what, at + 1)) {
      ++seen;
    }
    return seen;
  };
  EXPECT_GT(count("\n"), 0u);
  EXPECT_EQ(count("\r\n"), count("\n")) << text.out;
}

TEST_F(ToolTest, CompanionWithoutElevationSaysSoAndWritesNothing) {
  ASSERT_EQ(ImportDemoModem(registry, "D", "D"), "");
  // Wine lets a limited token open the machine's keys with full access, so only the token
  // check stands between a non-elevated run and the registry here.
  const ConsoleRun run =
      RunConsoleProgram(CompanionExecutablePath(), "secure --json", StartRights::kLimited);
  EXPECT_EQ(run.exitCode, std::optional<DWORD>(5)) << run.out << run.err;
  EXPECT_NE(run.err.find("administrator rights are needed"), std::string::npos) << run.err;
  const json doc = ParseJson(run);
  EXPECT_EQ(doc["exitCode"], 5);
  EXPECT_NE(doc["error"].get<std::string>().find("administrator rights"), std::string::npos);
  EXPECT_EQ(DialPrefixAt(kCcsDemoModem), StringValue("D"));
  EXPECT_EQ(DialPrefixAt(kCs1DemoModem), StringValue("D"));
}

TEST_F(ToolTest, CompanionRefusesABadCommandLineWithUsage) {
  ASSERT_EQ(ImportDemoModem(registry, "D", "D"), "");
  const ConsoleRun run = Companion("secure --force");
  EXPECT_EQ(run.exitCode, std::optional<DWORD>(87));
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.err.find("unknown option '--force'"), std::string::npos) << run.err;
  EXPECT_EQ(DialPrefixAt(kCcsDemoModem), StringValue("D"));
  const ConsoleRun hive = Companion("--hive C:\\SYSTEM status");
  EXPECT_EQ(hive.exitCode, std::optional<DWORD>(87));
  EXPECT_NE(hive.err.find("Linux build"), std::string::npos) << hive.err;
}

// A report that cannot be written (every write refused) fails the run with 29 and a line on
// standard error; a switch has still written. A program given no standard output at all has
// no reader to fail, and keeps its code.
TEST_F(ToolTest, CompanionWhoseReportCannotBeWrittenExitsWith29) {
  ASSERT_EQ(ImportDemoModem(registry, "D", "D"), "");
  const std::string told = "modemprefix: the report could not be written to standard output: ";
  const struct {
    const char* arguments;
    StandardOutput output;
    DWORD code;
    const char* prefixAfter;
  } cases[] = {
      {"status --json", StandardOutput::kReadOnlyFile, 29, "D"},
      {"check secure", StandardOutput::kReadOnlyFile, 29, "D"},
      {"secure --json", StandardOutput::kReadOnlyFile, 29, "A"},
      {"check secure", StandardOutput::kNone, 0, "A"},
      {"normal", StandardOutput::kNone, 3010, "D"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ConsoleRun run = RunConsoleProgram(CompanionExecutablePath(), c.arguments,
                                             StartRights::kAsTheTest, 10000, c.output);
    EXPECT_EQ(run.exitCode, std::optional<DWORD>(c.code)) << run.err;
    if (c.code == 29) {
      // One line, with Wine's text of the error.
      EXPECT_EQ(run.err.rfind(told, 0), 0u) << run.err;
      EXPECT_EQ(run.err.find("\r\n"), run.err.size() - 2) << run.err;
    } else {
      EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(DialPrefixAt(kCcsDemoModem), StringValue(c.prefixAfter));
  }
}

// A report of more than 64 KB to a console (older consoles fail a WriteConsoleW that large):
// the console shows it whole, as a file receives it.
TEST_F(ToolTest, CompanionWritesALongReportToAConsoleWhole) {
  const std::string base = "SYSTEM\\CurrentControlSet\\Control\\LongReport\\";
  std::vector<std::string> names;
  for (int i = 0; i < 500; ++i) {
    names.push_back(std::to_string(1000 + i) + std::string(110, 'k') + "caf\xE9");
  }
  ASSERT_EQ(ImportModems(registry, base, names), "");

  const ConsoleRun file = Companion("status");
  ASSERT_EQ(file.exitCode, std::optional<DWORD>(0)) << file.err;
  ASSERT_GT(file.out.size(), 65536u);
  std::string expected;
  for (const char c : file.out) {
    if (c != '\r') expected += c;
  }
  const ConsoleRun console =
      RunConsoleProgram(CompanionExecutablePath(), "status", StartRights::kAsTheTest, 20000,
                        StandardOutput::kConsole);
  EXPECT_EQ(console.exitCode, std::optional<DWORD>(0)) << console.err;
  EXPECT_EQ(console.err, "");
  // Where the two part, and a little of each from there (the whole would be 80 KB).
  const auto parted =
      std::mismatch(console.out.begin(), console.out.end(), expected.begin(), expected.end());
  const auto at = static_cast<std::size_t>(parted.first - console.out.begin());
  EXPECT_EQ(console.out.size(), expected.size());
  EXPECT_EQ(console.out.substr(at, 80), expected.substr(at, 80)) << "from byte " << at;
}

}  // namespace
