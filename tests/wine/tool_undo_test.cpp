// modemprefix.exe's undo file, applied with Wine's own `reg import`: after a switch of a mixed
// registry and the import of its undo file, every DialPrefix holds exactly what it held before
// (type and bytes), for plain names and for names with quotes, brackets and bytes above 0x7F.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tool_driver.h"

namespace {

struct UndoCase {
  const char* name;
  const char* fixture;
  std::vector<std::string> keys;  // every key of the fixture holding a DialPrefix
};

const UndoCase kUndoCases[] = {
    {"Mixed",
     "scan_roots.reg",
     {"SYSTEM\\CurrentControlSet\\Control\\ScanFixture\\Modem",
      "SYSTEM\\CurrentControlSet\\Control\\ScanFixture\\Modem\\Inner",
      "SYSTEM\\CurrentControlSet\\Control\\ScanFixture\\NotAModem",
      "SYSTEM\\ControlSet001\\Control\\ScanFixture\\Modem",
      "SYSTEM\\ControlSet001\\Control\\ScanFixture\\WrongPrefix"}},
    {"OddNames",
     "odd_names.reg",
     {"SYSTEM\\ControlSet001\\Control\\OddNames\\Say \"hi\"",
      "SYSTEM\\ControlSet001\\Control\\OddNames\\Caf\xe9 [\x80 5]",
      "SYSTEM\\ControlSet001\\Control\\OddNames\\K\xe4se 'x'"}},
};

class UndoFileTest : public ToolTest, public ::testing::WithParamInterface<UndoCase> {
 protected:
  std::vector<std::optional<RegistryValue>> Prefixes() const {
    std::vector<std::optional<RegistryValue>> values;
    for (const std::string& key : GetParam().keys) {
      values.push_back(ReadMachineValue(key, "DialPrefix"));
    }
    return values;
  }
};

TEST_P(UndoFileTest, RegImportOfTheUndoFilePutsEveryKeyBackExactly) {
  ASSERT_EQ(registry.ImportFile(GetParam().fixture), "");
  const std::vector<std::optional<RegistryValue>> before = Prefixes();
  char folder[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathA(MAX_PATH, folder), 0u);
  const std::string undo = std::string(folder) + "modemprefix-undo.reg";

  for (const char* mode : {"secure", "normal"}) {
    SCOPED_TRACE(mode);
    const ConsoleRun run = RunConsoleProgram(CompanionExecutablePath(),
                                             std::string(mode) + " --undo-file \"" + undo + "\"");
    EXPECT_EQ(run.exitCode, std::optional<DWORD>(3010)) << run.out << run.err;
    ASSERT_NE(Prefixes(), before) << "the switch changed nothing to undo";

    const ConsoleRun import =
        RunConsoleProgram("C:\\windows\\system32\\reg.exe", "import \"" + undo + "\"");
    EXPECT_EQ(import.exitCode, std::optional<DWORD>(0)) << import.out << import.err;
    EXPECT_EQ(Prefixes(), before);
  }
  EXPECT_TRUE(::DeleteFileA(undo.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, UndoFileTest, ::testing::ValuesIn(kUndoCases), CaseName());

}  // namespace
