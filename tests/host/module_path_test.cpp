// The application name and help file path taken from the executable's path.
#include "framework/module_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PathCase {
  const char* modulePath;
  const char* appName;
  const char* helpPath;
};

class ModulePath : public testing::TestWithParam<PathCase> {};

TEST_P(ModulePath, NamesComeFromTheFileNameOnly) {
  const PathCase& c = GetParam();
  EXPECT_EQ(fw::BaseNamePart(c.modulePath), c.appName);
  EXPECT_EQ(fw::WithExtension(c.modulePath, ".HLP"), c.helpPath);
}

INSTANTIATE_TEST_SUITE_P(
    Framework, ModulePath,
    testing::Values(
        PathCase{"C:\\Program Files\\Tool\\ModemConfig.exe", "ModemConfig",
                 "C:\\Program Files\\Tool\\ModemConfig.HLP"},
        PathCase{"C:\\TOOLS\\MODEMCFG.EXE", "MODEMCFG", "C:\\TOOLS\\MODEMCFG.HLP"},
        // A dot in a folder name is not the file's extension.
        PathCase{"C:\\tools.v2\\Tool", "Tool", "C:\\tools.v2\\Tool.HLP"},
        PathCase{"C:\\tools.v2\\Tool.exe", "Tool", "C:\\tools.v2\\Tool.HLP"},
        // Only the last dot of the file name starts the extension.
        PathCase{"C:\\a\\tool.backup.exe", "tool.backup", "C:\\a\\tool.backup.HLP"},
        PathCase{"C:\\a\\tool.", "tool", "C:\\a\\tool.HLP"},
        PathCase{"C:tool.exe", "tool", "C:tool.HLP"},
        PathCase{"\\\\?\\C:\\long\\path\\tool.exe", "tool", "\\\\?\\C:\\long\\path\\tool.HLP"},
        PathCase{"\\\\server\\share.x\\tool.exe", "tool", "\\\\server\\share.x\\tool.HLP"},
        PathCase{"Z:/unix/style/tool.exe", "tool", "Z:/unix/style/tool.HLP"},
        PathCase{"tool.exe", "tool", "tool.HLP"}));

}  // namespace
