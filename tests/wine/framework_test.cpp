// The framework driven in-process: dialog creation order, message-map dispatch, the modal
// result, exceptions in handlers, F1 help, the status bar and the process entry.
//
// Dialogs come from a template built in memory. A modal run blocks the test, so each test
// scripts its dialog from OnInitDialog by posting messages; a guard (a ModalScript without
// steps) cancels every dialog of the test thread if a script gets stuck, and the test then
// fails.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/status_bar_ctrl.h"
#include "framework/win_app.h"
#include "modal_script.h"

namespace {

constexpr UINT kMainTemplateId = 102;
constexpr UINT kOtherTemplateId = 100;
constexpr UINT kStepMessage = WM_APP + 1;
constexpr UINT kAppCommand = 0x7777;
constexpr int kChildCount = 5;

// A dialog template in memory: caption, system menu, "MS Sans Serif" 8, five push buttons
// (OK, Cancel, 1000, 1001, 1002), visible when created like the tool's main dialog.
class TestTemplate {
 public:
  TestTemplate() {
    AddDword(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
    AddDword(0);           // extended style
    m_words.push_back(0);  // item count, set by AddButton
    for (int value : {0, 0, 200, 80}) m_words.push_back(static_cast<WORD>(value));
    m_words.push_back(0);  // no menu
    m_words.push_back(0);  // standard dialog class
    AddString("Framework test");
    m_words.push_back(8);
    AddString("MS Sans Serif");
    AddButton(IDOK, "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 140, 7);
    AddButton(IDCANCEL, "Cancel", WS_TABSTOP, 140, 24);
    AddButton(1000, "A", 0, 7, 7);
    AddButton(1001, "B", 0, 7, 24);
    AddButton(1002, "C", 0, 7, 41);
  }

  [[nodiscard]] const DLGTEMPLATE* Get() const {
    return reinterpret_cast<const DLGTEMPLATE*>(m_words.data());
  }

 private:
  void AddDword(DWORD value) {
    m_words.push_back(LOWORD(value));
    m_words.push_back(HIWORD(value));
  }
  void AddString(const char* text) {
    for (; *text != '\0'; ++text) m_words.push_back(static_cast<WORD>(*text));
    m_words.push_back(0);
  }
  void AddButton(WORD id, const char* text, DWORD style, short x, short y) {
    if (m_words.size() % 2 != 0) m_words.push_back(0);  // items start on a DWORD boundary
    AddDword(WS_CHILD | WS_VISIBLE | style);
    AddDword(0);
    for (short value : {x, y, short{50}, short{14}}) m_words.push_back(static_cast<WORD>(value));
    m_words.push_back(id);
    m_words.push_back(0xFFFF);
    m_words.push_back(0x0080);  // button class
    AddString(text);
    m_words.push_back(0);  // no creation data
    ++m_words[4];
  }

  std::vector<WORD> m_words;
};

class TestApp : public CWinApp {
 public:
  struct HelpCall {
    ULONG_PTR data;
    UINT command;
    bool operator==(const HelpCall&) const = default;
  };

  void WinHelp(ULONG_PTR data, UINT command) override { helpCalls.push_back({data, command}); }

  LRESULT ProcessWndProcException(std::exception_ptr error, const MSG& msg) noexcept override {
    try {
      failedMessages.push_back(msg.message);
    } catch (...) {
    }
    return CWinApp::ProcessWndProcException(error, msg);
  }

  std::vector<HelpCall> helpCalls;
  std::vector<UINT> failedMessages;  // messages whose handler threw
  int appCommands = 0;

 private:
  void OnAppCommand() { ++appCommands; }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestApp, CWinApp)
  ON_COMMAND(ID_HELP, CWinApp::OnHelp)
  ON_COMMAND(kAppCommand, OnAppCommand)
END_MESSAGE_MAP()

enum class ThrowAt { kNowhere, kCreate, kInitDialog, kClick, kPaint };

class TestDialog : public CDialog {
 public:
  using Script = std::function<void(TestDialog&)>;

  explicit TestDialog(const TestTemplate& dialogTemplate, UINT id = kMainTemplateId) : CDialog(id) {
    InitModalIndirect(dialogTemplate.Get());
  }

  // Posts a step: `step` runs when the modal loop reaches it, after what was posted before.
  void Post(Script step) {
    m_steps.push_back(std::move(step));
    ::PostMessageA(m_hWnd, kStepMessage, m_steps.size() - 1, 0);
  }
  void PostClick(int id) { ::PostMessageA(GetDlgItem(id), BM_CLICK, 0, 0); }
  void PostKey(WPARAM key) { ::PostMessageA(GetDlgItem(IDOK), WM_KEYDOWN, key, 1); }

  Script onInit;  // runs at the end of OnInitDialog
  Script onClick1000;
  ThrowAt throwAt = ThrowAt::kNowhere;
  bool failExchange = false;

  std::vector<std::string> events;
  HWND childAtCreate = reinterpret_cast<HWND>(-1);
  bool attachedAtCreate = false;
  int childrenAtInit = 0;
  int initCalls = 0;
  int savingExchanges = 0;
  int paintCalls = 0;
  std::vector<unsigned> rangeIds;

 protected:
  BOOL OnInitDialog() override {
    ++initCalls;
    events.push_back("initdialog");
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild != nullptr;
         hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
      ++childrenAtInit;
    }
    CDialog::OnInitDialog();
    if (onInit) onInit(*this);
    if (throwAt == ThrowAt::kInitDialog) throw std::runtime_error("init");
    return TRUE;
  }

  void DoDataExchange(CDataExchange* pDX) override {
    if (!pDX->m_bSaveAndValidate) return;
    ++savingExchanges;
    if (failExchange) pDX->Fail();
  }

 private:
  LRESULT OnNcCreate(WPARAM, LPARAM) {
    events.push_back("nccreate");
    return Default();
  }
  int OnCreate(LPCREATESTRUCTA lpCreateStruct) {
    events.push_back("create");
    childAtCreate = ::GetWindow(m_hWnd, GW_CHILD);
    attachedAtCreate = FromHandle(m_hWnd) == this;
    if (throwAt == ThrowAt::kCreate) throw std::bad_alloc();
    return CDialog::OnCreate(lpCreateStruct);
  }
  void OnShowWindow(BOOL bShow, UINT nStatus) {
    events.push_back(bShow ? "show" : "hide");
    CDialog::OnShowWindow(bShow, nStatus);
  }
  void OnPaint() {
    ++paintCalls;
    if (throwAt == ThrowAt::kPaint) throw std::runtime_error("paint");
    CDialog::OnPaint();
  }
  void OnClicked1000() {
    events.push_back("clicked:1000");
    if (throwAt == ThrowAt::kClick) throw std::runtime_error("click");
    if (onClick1000) onClick1000(*this);
  }
  void OnFirst1001() { events.push_back("first:1001"); }
  void OnRange(unsigned id) { rangeIds.push_back(id); }
  LRESULT OnStep(WPARAM index, LPARAM) {
    m_steps.at(index)(*this);
    return 0;
  }
  LRESULT OnTimer(WPARAM, LPARAM) {
    ::KillTimer(m_hWnd, 1);
    EndDialog(IDOK);
    return 0;
  }

  std::vector<Script> m_steps;

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
  ON_MESSAGE(WM_NCCREATE, OnNcCreate)
  ON_WM_CREATE()
  ON_WM_SHOWWINDOW()
  ON_WM_PAINT()
  ON_BN_CLICKED(1000, OnClicked1000)
  ON_BN_CLICKED(1001, OnFirst1001)
  ON_CONTROL_RANGE(BN_CLICKED, 1001, 1002, OnRange)
  ON_MESSAGE(kStepMessage, OnStep)
  ON_MESSAGE(WM_TIMER, OnTimer)
END_MESSAGE_MAP()

class FrameworkTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(guard.Failure(), "") << "a dialog script got stuck"; }

  TestApp app;
  TestTemplate dialogTemplate;
  ModalScript guard;
};

TEST_F(FrameworkTest, CreateReachesTheObjectBeforeAnyControlExists) {
  TestDialog dlg(dialogTemplate);
  HWND hWnd = nullptr;
  dlg.onInit = [&](TestDialog& d) {
    hWnd = d.m_hWnd;
    d.PostClick(IDOK);
  };

  EXPECT_EQ(dlg.DoModal(), IDOK);

  // (EndDialog hides the window without a show-window notification.)
  EXPECT_EQ(dlg.events, (std::vector<std::string>{"nccreate", "create", "initdialog", "show"}));
  EXPECT_EQ(dlg.childAtCreate, nullptr);
  EXPECT_TRUE(dlg.attachedAtCreate);
  EXPECT_EQ(dlg.childrenAtInit, kChildCount);
  EXPECT_EQ(dlg.initCalls, 1);
  // The window is gone and the object has let go of it.
  EXPECT_FALSE(::IsWindow(hWnd));
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(CDialog::FromHandle(hWnd), nullptr);
}

struct EndingCase {
  const char* name;
  std::function<void(TestDialog&)> script;
  bool failExchange;
  INT_PTR result;
  int savingExchanges;

  friend void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }
};

class ModalResult : public FrameworkTest, public testing::WithParamInterface<EndingCase> {};

TEST_P(ModalResult, EndsWithTheOperationsResult) {
  const EndingCase& c = GetParam();
  TestDialog dlg(dialogTemplate);
  dlg.failExchange = c.failExchange;
  dlg.onInit = c.script;

  EXPECT_EQ(dlg.DoModal(), c.result);
  EXPECT_EQ(dlg.savingExchanges, c.savingExchanges);
}

INSTANTIATE_TEST_SUITE_P(
    Framework, ModalResult,
    testing::Values(
        EndingCase{"OkButton", [](TestDialog& d) { d.PostClick(IDOK); }, false, IDOK, 1},
        EndingCase{"CancelButton", [](TestDialog& d) { d.PostClick(IDCANCEL); }, false, IDCANCEL,
                   0},
        EndingCase{"EscapeKey", [](TestDialog& d) { d.PostKey(VK_ESCAPE); }, false, IDCANCEL, 0},
        EndingCase{"EnterKeyPressesDefaultButton", [](TestDialog& d) { d.PostKey(VK_RETURN); },
                   false, IDOK, 1},
        EndingCase{"CloseCommand",
                   [](TestDialog& d) { ::PostMessageA(d.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); },
                   false, IDCANCEL, 0},
        EndingCase{"EndDialogValue", [](TestDialog& d) { d.EndDialog(42); }, false, 42, 0},
        // OK whose data exchange fails leaves the dialog open; Cancel then ends it.
        EndingCase{"FailedExchangeKeepsDialogOpen",
                   [](TestDialog& d) {
                     d.PostClick(IDOK);
                     d.PostClick(IDCANCEL);
                   },
                   true, IDCANCEL, 1}),
    [](const testing::TestParamInfo<EndingCase>& param) { return std::string(param.param.name); });

TEST_F(FrameworkTest, CommandsReachTheirHandlersInDeclaredOrder) {
  TestDialog dlg(dialogTemplate);
  dlg.onInit = [](TestDialog& d) {
    d.PostClick(1000);
    d.PostClick(1001);  // its own entry comes before the range: the range never sees it
    d.PostClick(1002);
    // Another notification code from 1000, and a command no dialog entry takes.
    ::PostMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(1000, BN_DOUBLECLICKED),
                   reinterpret_cast<LPARAM>(d.GetDlgItem(1000)));
    ::PostMessageA(d.m_hWnd, WM_COMMAND, kAppCommand, 0);
    d.PostClick(IDOK);
  };

  EXPECT_EQ(dlg.DoModal(), IDOK);

  EXPECT_EQ(dlg.events, (std::vector<std::string>{"nccreate", "create", "initdialog", "show",
                                                  "clicked:1000", "first:1001"}));
  EXPECT_EQ(dlg.rangeIds, std::vector<unsigned>{1002});
  EXPECT_EQ(app.appCommands, 1);
}

TEST_F(FrameworkTest, DialogRefusesASecondModalRunWhileRunning) {
  TestDialog dlg(dialogTemplate);
  INT_PTR nested = 0;
  dlg.onInit = [&](TestDialog& d) {
    nested = d.DoModal();
    d.PostClick(IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(nested, -1);
}

TEST_F(FrameworkTest, MissingTemplateResourceFailsTheModalRun) {
  CDialog dlg(0x7FFF);  // this program has no dialog resources
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}

struct ThrowCase {
  const char* name;
  ThrowAt at;
  INT_PTR result;
  UINT failedMessage;

  friend void PrintTo(const ThrowCase& c, std::ostream* os) { *os << c.name; }
};

class HandlerException : public FrameworkTest, public testing::WithParamInterface<ThrowCase> {};

// The exception reaches the application's report, the window procedure returns normally, and
// the dialog goes on (or, for WM_CREATE, is not created).
TEST_P(HandlerException, StaysInsideTheWindowProcedure) {
  const ThrowCase& c = GetParam();
  TestDialog dlg(dialogTemplate);
  dlg.throwAt = c.at;
  dlg.onInit = [&](TestDialog& d) {
    if (c.at == ThrowAt::kPaint) {
      // A timer message comes only once no paint is pending: it proves the failed paint did
      // not leave the window invalid for ever.
      ::SetTimer(d.m_hWnd, 1, 10, nullptr);
      return;
    }
    d.PostClick(1000);
    d.PostClick(IDOK);
  };

  EXPECT_EQ(dlg.DoModal(), c.result);

  ASSERT_FALSE(app.failedMessages.empty());
  EXPECT_EQ(app.failedMessages.front(), c.failedMessage);
  if (c.at == ThrowAt::kPaint) {
    EXPECT_EQ(app.failedMessages.size(), static_cast<std::size_t>(dlg.paintCalls));
  } else {
    EXPECT_EQ(app.failedMessages.size(), 1u);
  }
  if (c.at == ThrowAt::kCreate) {
    EXPECT_EQ(dlg.initCalls, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Framework, HandlerException,
    testing::Values(ThrowCase{"Create", ThrowAt::kCreate, -1, WM_CREATE},
                    ThrowCase{"InitDialog", ThrowAt::kInitDialog, IDOK, WM_INITDIALOG},
                    ThrowCase{"Click", ThrowAt::kClick, IDOK, WM_COMMAND},
                    ThrowCase{"Paint", ThrowAt::kPaint, IDOK, WM_PAINT}),
    [](const testing::TestParamInfo<ThrowCase>& param) { return std::string(param.param.name); });

struct HelpKeyCase {
  const char* name;
  int heldKey;  // 0: none
  bool opensHelp;

  friend void PrintTo(const HelpKeyCase& c, std::ostream* os) { *os << c.name; }
};

class HelpKey : public FrameworkTest, public testing::WithParamInterface<HelpKeyCase> {};

TEST_P(HelpKey, PlainF1OpensTheDialogsHelpTopic) {
  const HelpKeyCase& c = GetParam();
  TestDialog dlg(dialogTemplate);
  app.m_pMainWnd = &dlg;
  BYTE saved[256] = {};
  ASSERT_TRUE(::GetKeyboardState(saved));
  dlg.onInit = [&](TestDialog& d) {
    BYTE held[256] = {};
    std::memcpy(held, saved, sizeof(held));
    if (c.heldKey != 0) held[c.heldKey] = 0x80;
    ::SetKeyboardState(held);
    d.PostKey(VK_F1);
    d.Post([&](TestDialog& self) {
      ::SetKeyboardState(saved);
      self.EndDialog(IDOK);
    });
  };

  EXPECT_EQ(dlg.DoModal(), IDOK);
  app.m_pMainWnd = nullptr;

  std::vector<TestApp::HelpCall> expected;
  if (c.opensHelp) expected.push_back({0x20000 + kMainTemplateId, HELP_CONTEXT});
  EXPECT_EQ(app.helpCalls, expected);
}

INSTANTIATE_TEST_SUITE_P(Framework, HelpKey,
                         testing::Values(HelpKeyCase{"Alone", 0, true},
                                         HelpKeyCase{"WithShift", VK_SHIFT, false},
                                         HelpKeyCase{"WithCtrl", VK_CONTROL, false},
                                         HelpKeyCase{"WithAlt", VK_MENU, false}),
                         [](const testing::TestParamInfo<HelpKeyCase>& param) {
                           return std::string(param.param.name);
                         });

// The first steps of a script on `main` (whose button 1000 runs `other`): open the second
// dialog, and once it is shown post F1 to it, then run `afterKey`.
ModalScript& PressF1InTheSecondDialog(
    ModalScript& script, TestDialog& main, TestDialog& other,
    std::function<void()> afterKey = [] {}) {
  return script
      .Then("open the second dialog",
            [&main](HWND) {
              main.PostClick(1000);
              return true;
            })
      .Then("F1 in the second dialog once it is shown", [&other, afterKey](HWND) {
        if (other.m_hWnd == nullptr || !::IsWindowVisible(other.m_hWnd)) return false;
        other.PostKey(VK_F1);
        afterKey();
        return true;
      });
}

// A dialog opened from the main one (as the About box is) is owned by it, is itself created
// through the hook, and F1 in it asks for its own topic; back in the main dialog, the main
// dialog's topic. Each key is posted only once the dialog it is meant for is on screen, and
// each step waits for the help call before the script goes on.
TEST_F(FrameworkTest, HelpFollowsTheActiveDialog) {
  TestDialog main(dialogTemplate, kMainTemplateId);
  TestDialog other(dialogTemplate, kOtherTemplateId);
  app.m_pMainWnd = &main;
  HWND otherOwner = nullptr;
  BOOL mainEnabledDuringOther = TRUE;
  INT_PTR otherResult = 0;
  other.onInit = [&](TestDialog& d) {
    otherOwner = ::GetWindow(d.m_hWnd, GW_OWNER);
    mainEnabledDuringOther = ::IsWindowEnabled(main.m_hWnd);
  };
  main.onClick1000 = [&](TestDialog&) { otherResult = other.DoModal(); };
  ModalScript script([&] { return main.m_hWnd; });
  PressF1InTheSecondDialog(script, main, other)
      .Then("close the second dialog after its help",
            [&](HWND) {
              if (app.helpCalls.size() < 1) return false;
              other.PostClick(IDOK);
              return true;
            })
      .Then("F1 in the main dialog once it is enabled again",
            [&](HWND mainWindow) {
              if (other.m_hWnd != nullptr || !::IsWindowEnabled(mainWindow)) return false;
              main.PostKey(VK_F1);
              return true;
            })
      .Then("close the main dialog after its help", [&](HWND) {
        if (app.helpCalls.size() < 2) return false;
        main.PostClick(IDOK);
        return true;
      });

  HWND mainWindow = nullptr;
  main.onInit = [&](TestDialog& d) { mainWindow = d.m_hWnd; };
  EXPECT_EQ(main.DoModal(), IDOK);
  app.m_pMainWnd = nullptr;

  EXPECT_EQ(script.Failure(), "");
  EXPECT_EQ(otherResult, IDOK);
  EXPECT_EQ(otherOwner, mainWindow);
  EXPECT_FALSE(mainEnabledDuringOther);
  EXPECT_EQ(other.childAtCreate, nullptr);
  EXPECT_EQ(app.helpCalls, (std::vector<TestApp::HelpCall>{
                               {0x20000 + kOtherTemplateId, HELP_CONTEXT},
                               {0x20000 + kMainTemplateId, HELP_CONTEXT},
                           }));
}

// Which window is the active one when F1, pressed in the second dialog, is taken from the queue.
struct ActiveAtKeyCase {
  const char* name;
  bool anotherWindowActive;  // a window of no dialog (as when another program comes forward)

  friend void PrintTo(const ActiveAtKeyCase& c, std::ostream* os) { *os << c.name; }
};

class HelpWhereThePressWas : public FrameworkTest,
                             public testing::WithParamInterface<ActiveAtKeyCase> {};

// F1 asks for the topic of the dialog the key was pressed in, whichever window is active by the
// time the key is read: a key queued just before the user switched away still opens its own
// dialog's topic, not the main dialog's.
TEST_P(HelpWhereThePressWas, OpensThatDialogsTopic) {
  const ActiveAtKeyCase& c = GetParam();
  TestDialog main(dialogTemplate, kMainTemplateId);
  TestDialog other(dialogTemplate, kOtherTemplateId);
  app.m_pMainWnd = &main;
  HWND elsewhere = nullptr;
  main.onClick1000 = [&](TestDialog&) { other.DoModal(); };
  ModalScript script([&] { return main.m_hWnd; });
  // Another window to the front after the key, before the modal loop reads it.
  PressF1InTheSecondDialog(script, main, other, [&] {
    if (!c.anotherWindowActive) return;
    elsewhere = ::CreateWindowExA(0, "STATIC", "Elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 50, 20,
                                  nullptr, nullptr, nullptr, nullptr);
    ::SetActiveWindow(elsewhere);
  }).Then("close both after the help", [&](HWND) {
    if (app.helpCalls.empty()) return false;
    if (c.anotherWindowActive) {
      EXPECT_EQ(::GetActiveWindow(), elsewhere);
    }
    other.PostClick(IDOK);
    main.PostClick(IDOK);
    return true;
  });

  EXPECT_EQ(main.DoModal(), IDOK);
  app.m_pMainWnd = nullptr;
  if (elsewhere != nullptr) ::DestroyWindow(elsewhere);

  EXPECT_EQ(script.Failure(), "");
  EXPECT_EQ(app.helpCalls,
            (std::vector<TestApp::HelpCall>{{0x20000 + kOtherTemplateId, HELP_CONTEXT}}));
}

INSTANTIATE_TEST_SUITE_P(Framework, HelpWhereThePressWas,
                         testing::Values(ActiveAtKeyCase{"ItsDialogActive", false},
                                         ActiveAtKeyCase{"AnotherWindowActive", true}),
                         [](const testing::TestParamInfo<ActiveAtKeyCase>& param) {
                           return std::string(param.param.name);
                         });

// The part index at which a status bar answers reads of its simple part. Windows answers at 255,
// the index the text is set at. Wine's status bar refuses any index beyond its parts there and
// answers at 0 instead.
WPARAM SimpleTextReadIndex() {
  const bool wine =
      ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine ? 0 : 255;
}

TEST_F(FrameworkTest, StatusBarShowsSimpleText) {
  EXPECT_TRUE(app.Enable3dControls());
  TestDialog dlg(dialogTemplate);
  CStatusBarCtrl bar;
  HWND hBar = nullptr;
  const char text[] = "Modem text in the simple part";
  dlg.onInit = [&](TestDialog& d) {
    ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE | CCS_BOTTOM, RECT{}, &d, 101));
    hBar = bar.m_hWnd;
    EXPECT_EQ(::GetDlgCtrlID(hBar), 101);
    EXPECT_EQ(::GetParent(hBar), d.m_hWnd);
    // Created with an empty rectangle, it lies along the whole bottom edge of the dialog.
    RECT client{};
    RECT barRect{};
    d.GetClientRect(&client);
    ::GetWindowRect(hBar, &barRect);
    ::MapWindowPoints(nullptr, d.m_hWnd, reinterpret_cast<POINT*>(&barRect), 2);
    EXPECT_EQ(barRect.bottom, client.bottom);
    EXPECT_EQ(barRect.right - barRect.left, client.right - client.left);
    EXPECT_GT(barRect.bottom - barRect.top, 0);
    // A second window for the same object is refused.
    EXPECT_FALSE(bar.Create(WS_CHILD, RECT{}, &d, 102));
    EXPECT_EQ(bar.m_hWnd, hBar);

    bar.SetSimple(TRUE);
    EXPECT_TRUE(::SendMessageA(hBar, SB_ISSIMPLE, 0, 0));
    EXPECT_TRUE(bar.SetText(text, 255, 0));

    // Once the dialog is on screen: the text reads back, and Invalidate marks the bar.
    d.Post([&](TestDialog& self) {
      const WPARAM part = SimpleTextReadIndex();
      EXPECT_EQ(LOWORD(::SendMessageA(hBar, SB_GETTEXTLENGTHA, part, 0)), std::strlen(text));
      char read[64];
      std::memset(read, 0x5A, sizeof(read));
      ::SendMessageA(hBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(read));
      EXPECT_STREQ(read, text);
      EXPECT_EQ(read[sizeof(text)], 0x5A) << "written past the terminator";

      ::UpdateWindow(hBar);
      RECT update{};
      EXPECT_FALSE(::GetUpdateRect(hBar, &update, FALSE));
      bar.Invalidate(TRUE);
      EXPECT_TRUE(::GetUpdateRect(hBar, &update, FALSE));
      self.PostClick(IDOK);
    });
  };

  EXPECT_EQ(dlg.DoModal(), IDOK);
  ASSERT_NE(hBar, nullptr);
  // The window went with the dialog; the object may still be destroyed safely afterwards.
  EXPECT_FALSE(::IsWindow(hBar));
}

TEST_F(FrameworkTest, StatusBarIsDestroyedWithItsObject) {
  TestDialog dlg(dialogTemplate);
  HWND hBar = nullptr;
  BOOL aliveAfterDelete = TRUE;
  dlg.onInit = [&](TestDialog& d) {
    auto bar = std::make_unique<CStatusBarCtrl>();
    EXPECT_TRUE(bar->Create(WS_CHILD | WS_VISIBLE | CCS_BOTTOM, RECT{}, &d, 101));
    hBar = bar->m_hWnd;
    bar.reset();
    aliveAfterDelete = ::IsWindow(hBar);
    d.PostClick(IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_NE(hBar, nullptr);
  EXPECT_FALSE(aliveAfterDelete);
}

TEST_F(FrameworkTest, StatusBarWithoutParentIsNotCreated) {
  CStatusBarCtrl bar;
  EXPECT_FALSE(
      bar.Create(WS_CHILD | WS_VISIBLE | CCS_BOTTOM, RECT{}, static_cast<CDialog*>(nullptr), 101));
  EXPECT_EQ(bar.m_hWnd, nullptr);
}

// -- The process entry ----------------------------------------------------------------------

enum class StartUp { kRunDialogAndDecline, kRunLoopUntilQuit, kThrow };

class EntryApp : public CWinApp {
 public:
  explicit EntryApp(StartUp startUp) : m_startUp(startUp) {}

  BOOL InitInstance() override {
    switch (m_startUp) {
      case StartUp::kRunDialogAndDecline: {
        TestTemplate dialogTemplate;
        TestDialog dlg(dialogTemplate);
        m_pMainWnd = &dlg;
        dlg.onInit = [](TestDialog& d) { d.PostClick(IDCANCEL); };
        dialogResult = dlg.DoModal();
        m_pMainWnd = nullptr;
        return FALSE;
      }
      case StartUp::kRunLoopUntilQuit:
        ::PostQuitMessage(7);
        return TRUE;
      case StartUp::kThrow:
        throw std::runtime_error("start-up");
    }
    return FALSE;
  }
  int ExitInstance() override {
    ++exits;
    return CWinApp::ExitInstance();
  }

  INT_PTR dialogResult = 0;
  int exits = 0;

 private:
  StartUp m_startUp;
};

struct EntryCase {
  const char* name;
  StartUp startUp;
  int exitCode;
  int exits;

  friend void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }
};

class ProcessEntry : public testing::TestWithParam<EntryCase> {};

TEST_P(ProcessEntry, ReturnsTheFrameworksExitCode) {
  const EntryCase& c = GetParam();
  ModalScript guard;
  EntryApp app(c.startUp);
  ASSERT_EQ(AfxGetApp(), &app);

  EXPECT_EQ(AfxWinMain(), c.exitCode);
  EXPECT_EQ(app.exits, c.exits);
  if (c.startUp == StartUp::kRunDialogAndDecline) {
    EXPECT_EQ(app.dialogResult, IDCANCEL);
  }
  EXPECT_EQ(guard.Failure(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Framework, ProcessEntry,
    testing::Values(EntryCase{"InitialisationDeclines", StartUp::kRunDialogAndDecline, 0, 1},
                    EntryCase{"MessageLoopQuits", StartUp::kRunLoopUntilQuit, 7, 1},
                    EntryCase{"ExceptionEscapesInitialisation", StartUp::kThrow, -1, 0}),
    [](const testing::TestParamInfo<EntryCase>& param) { return std::string(param.param.name); });

TEST(ProcessEntryWithoutApplication, FailsAtOnce) {
  ASSERT_EQ(AfxGetApp(), nullptr);
  EXPECT_EQ(AfxWinMain(), -1);
}

TEST(Application, NamesComeFromTheExecutable) {
  TestApp app;
  char path[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  std::string expected(path);
  expected = expected.substr(expected.find_last_of('\\') + 1);
  expected = expected.substr(0, expected.rfind('.'));
  EXPECT_EQ(app.GetAppName(), expected);
  const std::string& help = app.GetHelpFilePath();
  ASSERT_GE(help.size(), 4u);
  EXPECT_EQ(help.substr(help.size() - 4), ".HLP");
  const std::string modulePath(path);
  EXPECT_EQ(help.substr(0, help.size() - 4), modulePath.substr(0, modulePath.rfind('.')));
}

}  // namespace
