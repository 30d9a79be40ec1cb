// Drives a modal dialog from inside its own thread: a thread timer runs the steps of a script
// one tick apart while DoModal (and any message box or nested dialog it opens) runs its loop.
// A step returns true when it is done, false to be tried again on the next tick (to wait for a
// window to appear). After the last step the script cancels the dialog if it is still open; a
// script that does not finish within its time limit cancels every dialog of the thread and
// reports the step it was stuck on.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class ModalScript {
 public:
  using Step = std::function<bool(HWND dialog)>;

  // `dialog` returns the dialog's window once it exists (nullptr before).
  explicit ModalScript(std::function<HWND()> dialog, int timeLimitMs = 10000);
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  ModalScript& Then(std::string name, Step step);

  // Empty when every step ran; otherwise what went wrong.
  [[nodiscard]] const std::string& Failure() const { return m_failure; }

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);
  void Tick();

  std::function<HWND()> m_dialog;
  std::vector<std::pair<std::string, Step>> m_steps;
  std::size_t m_next = 0;
  int m_ticksLeft;
  bool m_inTick = false;
  bool m_cancelled = false;
  UINT_PTR m_timer = 0;
  std::string m_failure;
};

// A message box or dialog owned by `owner` (class #32770), or nullptr.
HWND FindOwnedDialog(HWND owner);

// A window's text (a message box's caption, a control's text). The text of a message box
// itself is tool_driver.h's MessageBoxText.
std::string WindowText(HWND window);

// The simple-mode text of a status bar, read with SB_GETTEXTA.
std::string StatusBarText(HWND statusBar);
