// The real tool's About box, opened by system commands posted from outside (the system menu
// of another process's window cannot be read under Wine; the menu itself is checked in-process).
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tool_driver.h"
#include "tool_expected.h"

namespace {

constexpr char kAboutTitle[] = "About Quillon";

struct AboutCase {
  const char* name;
  WPARAM command;
  friend void PrintTo(const AboutCase& c, std::ostream* out) { *out << c.name; }
};

class ToolAboutTest : public ToolTest, public ::testing::WithParamInterface<AboutCase> {};

// The user moves the choice to normal operation first: neither the About box nor its closing
// may touch the radio buttons or the status line.
TEST_P(ToolAboutTest, OpensTheAboutBoxAndLeavesTheDialogAsItWas) {
  ASSERT_EQ(ImportDemoModem(registry, "D", "D"), "");
  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");
  tool.PostClick(kRadioNormal);
  // The posted click has been handled once its check mark shows.
  for (int tries = 0; tries < 200 && tool.CheckState(kRadioNormal) != BST_CHECKED; ++tries) {
    ::Sleep(10);
  }
  ASSERT_EQ(tool.CheckState(kRadioNormal), static_cast<UINT>(BST_CHECKED));
  ASSERT_EQ(tool.CheckState(kRadioSecure), static_cast<UINT>(BST_UNCHECKED));

  tool.PostSysCommand(GetParam().command);
  const HWND about = tool.WaitForOwnedBox(3000);
  ASSERT_NE(about, nullptr) << "no About box owned by the dialog";
  EXPECT_EQ(TextOf(about), kAboutTitle);
  ASSERT_TRUE(tool.PressOk(about));

  EXPECT_EQ(tool.CheckState(kRadioNormal), static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(tool.CheckState(kRadioSecure), static_cast<UINT>(BST_UNCHECKED));
  EXPECT_EQ(tool.StatusText(), kStatusNormal);

  // The dialog still works: OK moves the modems to the choice the user made, already theirs.
  tool.PostClick(IDOK);
  const RunEnding ending = tool.FinishPressingOk();
  EXPECT_EQ(ending.messages, std::vector<ShownMessage>{});
  EXPECT_EQ(ending.exitCode, std::optional<DWORD>(0));
  EXPECT_EQ(ReadMachineValue(kCcsDemoModem, "DialPrefix"), StringValue("D"));
}

// The About command, and with all of the low four bits set, which the system may use.
INSTANTIATE_TEST_SUITE_P(Commands, ToolAboutTest,
                         ::testing::Values(AboutCase{"Sys0x10", 0x10}, AboutCase{"Sys0x1F", 0x1F}),
                         CaseName());

// 0x20 is no command of the tool's: it opens nothing. The About command posted after it opens
// exactly one box, which shows that 0x20 was handled (posted messages arrive in order) and
// that it did not open one of its own.
TEST_F(ToolTest, AnotherSystemCommandOpensNoAboutBox) {
  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");
  tool.PostSysCommand(0x20);
  tool.PostSysCommand(0x10);

  const HWND about = tool.WaitForOwnedBox(3000);
  ASSERT_NE(about, nullptr);
  ASSERT_TRUE(tool.PressOk(about));
  EXPECT_EQ(tool.WaitForOwnedBox(300), nullptr);

  tool.PostClick(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), std::optional<DWORD>(0));
}

}  // namespace
