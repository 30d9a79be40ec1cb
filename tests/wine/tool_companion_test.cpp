// The real modemprefix.exe on Wine's real registry: exit codes as Windows hands them to a
// deployment system (3010 whole), what each command writes, its JSON read by a real parser,
// and agreement with the dialog on the same registry.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>
#include <string>

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
  const std::string names[] = {"quote\"d", "caf\xE9", std::string("ctl\x01\x1F"), "tab\tbed"};
  MemoryRegistry tree;
  for (const std::string& name : names) {
    tree.SetDword(base + name, "TONE", 1);
    tree.SetDword(base + name, "PULSE", 0);
    tree.SetString(base + name, "DIALPREFIX", "D");
  }
  ASSERT_EQ(registry.Import(tree), "");

  const ConsoleRun run = Companion("status --json");
  EXPECT_EQ(run.exitCode, std::optional<DWORD>(0)) << run.err;
  const json doc = ParseJson(run);
  std::vector<std::string> found;
  for (const json& key : doc["keys"]) {
    const std::string path = key["path"];
    if (path.starts_with(base)) found.push_back(path.substr(base.size()));
  }
  // Wine's code page is Windows-1252: é arrives as its UTF-8 form.
  const std::vector<std::string> expected = {"caf\xC3\xA9", std::string("ctl\x01\x1F"), "quote\"d",
                                             "tab\tbed"};
  EXPECT_EQ(found, expected) << run.out;

  // Text for people goes out in the console's code page, which a reader of the pipe decodes it
  // with: Wine's is 437, where é is 0x82 (0xE9, its Windows-1252 byte, would show as Θ).
  const ConsoleRun text = Companion("status");
  EXPECT_EQ(text.exitCode, std::optional<DWORD>(0)) << text.err;
  EXPECT_NE(text.out.find(base + "caf\x82 "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(base + "ctl?? "), std::string::npos) << text.out;
}

TEST_F(ToolTest, CompanionWithoutElevationSaysSoAndWritesNothing) {
  ASSERT_EQ(ImportDemoModem(registry, "D", "D"), "");
  // Wine lets a limited token open the machine's keys with full access, so only the token
  // check stands between a non-elevated run and the registry here.
  const ConsoleRun run =
      RunConsoleProgram(CompanionExecutablePath(), "secure --json", StartRights::kLimited);
  EXPECT_EQ(run.exitCode, std::optional<DWORD>(5)) << run.out << run.err;
  EXPECT_NE(run.err.find("administrator rights are needed"), std::string::npos) << run.err;
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

}  // namespace
