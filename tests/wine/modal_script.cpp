#include "modal_script.h"

#include <commctrl.h>

#include <map>

namespace {
constexpr UINT kTickMs = 15;
std::map<UINT_PTR, ModalScript*> g_scripts;  // thread timers carry no context of their own

BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
  char className[16] = {};
  ::GetClassNameA(window, className, sizeof(className));
  if (std::string(className) == "#32770") ::PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

struct OwnedSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK MatchOwned(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<OwnedSearch*>(param);
  char className[16] = {};
  ::GetClassNameA(window, className, sizeof(className));
  if (std::string(className) == "#32770" && ::GetWindow(window, GW_OWNER) == search->owner &&
      ::IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

ModalScript::ModalScript(std::function<HWND()> dialog, int timeLimitMs)
    : m_dialog(std::move(dialog)), m_ticksLeft(timeLimitMs / static_cast<int>(kTickMs)) {
  m_timer = ::SetTimer(nullptr, 0, kTickMs, &ModalScript::OnTimer);
  g_scripts[m_timer] = this;
}

ModalScript::ModalScript(int timeLimitMs) : ModalScript([] { return HWND{}; }, timeLimitMs) {}

ModalScript::~ModalScript() {
  ::KillTimer(nullptr, m_timer);
  g_scripts.erase(m_timer);
}

ModalScript& ModalScript::Then(std::string name, Step step) {
  m_steps.push_back({std::move(name), std::move(step), false});
  return *this;
}

ModalScript& ModalScript::ThenIfStillOpen(std::string name, Step step) {
  m_steps.push_back({std::move(name), std::move(step), true});
  return *this;
}

void CALLBACK ModalScript::OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  const auto it = g_scripts.find(id);
  if (it != g_scripts.end()) it->second->Tick();
}

void ModalScript::Tick() {
  if (m_inTick) return;  // a step's own modal loop; the step is still running
  m_inTick = true;
  HWND dialog = m_dialog();
  if (m_cancelled || --m_ticksLeft < 0) {
    // Past the limit: every dialog of the thread is cancelled, on every tick, until the run
    // has ended (a cancelled message box may uncover another dialog).
    if (!m_cancelled) {
      m_cancelled = true;
      m_failure = m_next < m_steps.size() ? "stuck at step '" + m_steps[m_next].name + "'"
                                          : "the dialog did not end";
    }
    ::EnumThreadWindows(::GetCurrentThreadId(), &CancelDialog, 0);
  } else if (dialog != nullptr && ::IsWindowVisible(dialog) && m_next < m_steps.size()) {
    if (m_steps[m_next].step(dialog)) ++m_next;
  } else if (dialog != nullptr && m_next == m_steps.size()) {
    ++m_next;
    ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }
  m_inTick = false;
}

std::string ModalScript::Failure() const {
  if (!m_failure.empty()) return m_failure;
  if (m_next < m_steps.size() && !m_steps[m_next].mayGoUnrun) {
    return "step '" + m_steps[m_next].name + "' never ran: the dialog ended or never showed";
  }
  return "";
}

HWND FindOwnedDialog(HWND owner) {
  OwnedSearch search{owner, nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), &MatchOwned, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string WindowText(HWND window) {
  char text[1024] = {};
  ::GetWindowTextA(window, text, sizeof(text));
  return text;
}

std::string StatusBarText(HWND statusBar) {
  // Windows answers for the simple part at SB_SIMPLEID; Wine answers there with nothing and
  // gives the simple part's text for part 0 instead.
  for (WPARAM part : {WPARAM{SB_SIMPLEID}, WPARAM{0}}) {
    char text[512] = {};
    if (LOWORD(::SendMessageA(statusBar, SB_GETTEXTLENGTHA, part, 0)) >= sizeof(text)) {
      return "<too long>";
    }
    ::SendMessageA(statusBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
    if (text[0] != '\0') return text;
  }
  return "";
}
