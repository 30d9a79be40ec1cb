// The headless half of `make demo` (scripts/demo): starts the tool on whatever registry the
// prefix holds, saves a PNG of its dialog, reports the status line and the pre-selected mode,
// presses OK, then OK on every message box the tool opens, reporting each, and waits for the
// tool to end.
//
//   demo_driver.exe PNG-PATH      (a Windows path; Z:\ is the Linux root under Wine)
//
// Exit status 0 when the tool ran to its end, 1 when something went wrong on the way.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "tests/wine/tool_driver.h"
#include "tests/wine/window_capture.h"

namespace {

constexpr int kRadioSecure = 1000;
constexpr int kRadioNormal = 1001;

int Fail(const std::string& what) {
  std::printf("demo: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: demo_driver.exe PNG-PATH");
  const std::string pngPath = argv[1];

  ToolRun tool;
  const std::string failure = tool.Start();
  if (!failure.empty()) return Fail(failure);
  std::printf("Dialog:      \"%s\"\n", TextOf(tool.Dialog()).c_str());
  std::printf("Status line: %s\n", tool.StatusText().c_str());
  std::string selected = "(none)";
  for (int radio : {kRadioSecure, kRadioNormal}) {
    if (tool.CheckState(radio) == BST_CHECKED) {
      selected = '"';
      selected += TextOf(::GetDlgItem(tool.Dialog(), radio));
      selected += '"';
    }
  }
  std::printf("Selected:    %s\n", selected.c_str());

  const Picture picture = CaptureSettledWindow(tool.Dialog());
  const std::string written =
      picture.Empty() ? "the dialog's picture did not settle" : WritePng(pngPath, picture);
  if (written.empty()) {
    std::printf("Screenshot:  %s (%d x %d)\n", pngPath.c_str(), picture.width, picture.height);
  } else {
    std::printf("Screenshot:  none: %s\n", written.c_str());
  }

  std::printf("Pressing OK.\n");
  tool.PostClick(IDOK);
  const RunEnding ending = tool.FinishPressingOk();
  for (const ShownMessage& message : ending.messages) {
    std::printf("Message box: [%s] %s\n", message.caption.c_str(), message.text.c_str());
  }
  if (ending.messages.empty()) std::printf("Message box: none\n");
  if (!ending.exitCode) return Fail("the tool did not end; it was stopped");
  std::printf("The tool ended with exit code %lu.\n", static_cast<unsigned long>(*ending.exitCode));
  return written.empty() ? 0 : 1;
}
