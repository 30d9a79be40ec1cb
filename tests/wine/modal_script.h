// The one way the Wine tests drive a modal dialog in-process: a thread timer runs the steps of
// a script one tick apart while DoModal (and any message box or nested dialog it opens) runs
// its loop, on the test's own thread (no thread of its own, so nothing can outlive the test).
// A step returns true when it is done, false to be tried again on the next tick (to wait for a
// window to appear). After the last step the script cancels the dialog if it is still open; a
// script that does not finish within its time limit cancels every dialog of the thread, again
// on every later tick, and reports the step it was stuck on. A test whose dialogs drive
// themselves uses a script without steps as a guard against a run that never ends.
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
  // A guard only: no steps, no dialog of its own; past the time limit it cancels every dialog
  // of the thread and Failure() says so.
  explicit ModalScript(int timeLimitMs = 10000);
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  ModalScript& Then(std::string name, Step step);
  // A last step for a dialog that may already have ended by then (to look for a message box
  // that should not come): Failure() does not count it, nor any after it, as never run.
  ModalScript& ThenIfStillOpen(std::string name, Step step);

  // Empty when every step ran within the time limit; otherwise what went wrong, including a
  // dialog that ended, or never showed, before every step had run.
  [[nodiscard]] std::string Failure() const;

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);
  void Tick();

  std::function<HWND()> m_dialog;
  struct Entry {
    std::string name;
    Step step;
    bool mayGoUnrun;
  };
  std::vector<Entry> m_steps;
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
