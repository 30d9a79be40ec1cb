// Drives the real ModemConfig.exe from another process, as a user would: starts it, finds its
// dialog, reads the status line and the radio buttons, clicks, reads and dismisses the message
// boxes it opens, and waits for it to end. Also puts fixture trees into the real registry and
// takes them out again, and reads values back.
//
// Everything here works across processes: window texts and button states travel as ordinary
// messages, the status line's text through a buffer allocated in the tool's address space.
// Every wait has a time limit; a tool still running when its ToolRun goes away is killed.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

class MemoryRegistry;

// The built tool, its console companion and a fixture file of tests/fixtures, as Windows paths.
std::string ToolExecutablePath();
std::string CompanionExecutablePath();
std::string FixturePath(const std::string& fileName);

// The dialog's title, compared exactly (FindWindowA would ignore case).
inline constexpr char kToolDialogTitle[] = "Brackwell Modem Configuration Tool";

// A message box as the user saw it.
struct ShownMessage {
  std::string caption;
  std::string text;
  bool operator==(const ShownMessage&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ShownMessage& message);

// How a run ended: the message boxes pressed away, in order, and the exit code (nullopt when
// the tool did not end in time and was killed).
struct RunEnding {
  std::vector<ShownMessage> messages;
  std::optional<DWORD> exitCode;
};

// One run of the tool.
class ToolRun {
 public:
  ToolRun() = default;
  ~ToolRun();  // kills the tool if it still runs, and waits for it to go
  ToolRun(const ToolRun&) = delete;
  ToolRun& operator=(const ToolRun&) = delete;

  // Starts the tool and waits until its dialog is visible with a status text in place (the
  // scan runs before the dialog shows). Returns what went wrong, or "" when the dialog is up.
  [[nodiscard]] std::string Start(DWORD timeoutMs = 10000);

  // The tool's main dialog (nullptr until Start has found it).
  [[nodiscard]] HWND Dialog() const { return m_dialog; }

  // The status line's simple text ("<no answer>" when the tool does not answer).
  [[nodiscard]] std::string StatusText() const;
  // BST_CHECKED or BST_UNCHECKED of a radio button of the dialog (~0u: no answer).
  [[nodiscard]] UINT CheckState(int controlId) const;

  // Posted, so that a message box the click opens does not block the caller.
  void PostClick(int controlId) const;
  void PostSysCommand(WPARAM command) const;

  // The first visible dialog box (#32770) of the tool owned by its dialog, waiting up to
  // `timeoutMs` for one to appear; nullptr if none did.
  [[nodiscard]] HWND WaitForOwnedBox(DWORD timeoutMs) const;

  // Presses OK (id 1) on `box` and waits until it has gone; false if it stayed.
  bool PressOk(HWND box, DWORD timeoutMs = 3000) const;

  // Presses OK on each message box the tool opens, recording it, until the tool ends; a tool
  // still running after `timeoutMs` is killed.
  [[nodiscard]] RunEnding FinishPressingOk(DWORD timeoutMs = 5000);

  // Waits for the tool to end by itself; kills it after `timeoutMs` and returns nullopt.
  [[nodiscard]] std::optional<DWORD> WaitForExit(DWORD timeoutMs = 5000);

 private:
  void Kill();

  HANDLE m_process = nullptr;
  DWORD m_processId = 0;
  HWND m_dialog = nullptr;
};

// One finished run of a console program: its exit code (nullopt when it did not end in time
// and was killed) and what it wrote to its two streams.
struct ConsoleRun {
  std::optional<DWORD> exitCode;
  std::string out;
  std::string err;
};
// The rights a console program is started with: the test's own (an administrator's full
// token under Wine), or the limited token linked to it, as a non-elevated prompt has.
enum class StartRights { kAsTheTest, kLimited };
// Where a console program's standard output goes: a file the test reads back, a file opened
// for reading only (every write fails, as on a full disk), or nowhere (a null handle in a
// detached process without a console), or
// a console of the test's own (2000 lines of 200 characters), read back as lines of text
// without their trailing blanks.
enum class StandardOutput { kCaptured, kReadOnlyFile, kNone, kConsole };
// Runs `executable` with `arguments` (a command-line tail, quoted as the program needs), its
// standard output and error going to files of their own (no pipe can fill and block it).
ConsoleRun RunConsoleProgram(const std::string& executable, const std::string& arguments,
                             StartRights rights = StartRights::kAsTheTest, DWORD timeoutMs = 10000,
                             StandardOutput output = StandardOutput::kCaptured);

// A window's text, read by message (works across processes); "<no answer>" on time-out.
std::string TextOf(HWND window);
// The text of a message box: its static control 0xFFFF.
std::string MessageBoxText(HWND box);

// A value of the registry as stored: its type and its bytes.
struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RegistryValue&) const = default;
};
std::ostream& operator<<(std::ostream& out, const RegistryValue& value);

// Puts the keys and values of an in-memory tree into the real HKEY_LOCAL_MACHINE, and takes
// out on Remove (or destruction) exactly what it put in: the keys it created, deepest first,
// and the earlier data of any value it replaced in a key that was there before. Keys are
// removed one by one with RegDeleteKeyA, never as a tree, so a link is never followed.
class RealRegistryFixture {
 public:
  RealRegistryFixture() = default;
  ~RealRegistryFixture();
  RealRegistryFixture(const RealRegistryFixture&) = delete;
  RealRegistryFixture& operator=(const RealRegistryFixture&) = delete;

  // Copies every key and value of `tree` (paths below HKEY_LOCAL_MACHINE). Returns what went
  // wrong, or "".
  [[nodiscard]] std::string Import(MemoryRegistry& tree);
  // Imports a file of tests/fixtures, read with the in-memory registry's loader.
  [[nodiscard]] std::string ImportFile(const std::string& fileName);

  // Returns what could not be removed, or "". A key that is already gone is fine.
  std::string Remove();

 private:
  struct SavedValue {
    std::string keyPath;
    std::string name;
    std::optional<RegistryValue> before;  // nullopt: did not exist
  };
  std::vector<std::string> m_createdKeys;  // in creation order, parents first
  std::vector<SavedValue> m_replacedValues;
};

// The demo modem's settings key (tests/fixtures/demo_modem.reg) below CurrentControlSet and
// below ControlSet001: the scan finds it twice, in that order.
extern const std::string kCcsDemoModem;
extern const std::string kCs1DemoModem;
// Imports demo_modem.reg with the two keys' DialPrefix set to the given texts.
[[nodiscard]] std::string ImportDemoModem(RealRegistryFixture& registry, const char* ccsPrefix,
                                          const char* cs1Prefix);

// A value of HKEY_LOCAL_MACHINE; nullopt when the key or the value does not exist.
std::optional<RegistryValue> ReadMachineValue(const std::string& keyPath, const char* name);
// REG_SZ holding `text` and its terminating zero, as a write of the tool stores it.
RegistryValue StringValue(const std::string& text);
[[nodiscard]] bool MachineKeyExists(const std::string& keyPath);
// Deletes one key that has no subkeys; returns the status.
LSTATUS DeleteMachineKey(const std::string& keyPath);

// Makes Wine report another Windows version to the tool (read when a process starts):
// HKCU\Software\Wine\AppDefaults\ModemConfig.exe Version. Removed again on destruction,
// with the keys it created.
class ScopedWineVersion {
 public:
  explicit ScopedWineVersion(const char* version);
  ~ScopedWineVersion();
  ScopedWineVersion(const ScopedWineVersion&) = delete;
  ScopedWineVersion& operator=(const ScopedWineVersion&) = delete;

  [[nodiscard]] bool Ok() const { return m_ok; }

 private:
  std::vector<std::string> m_createdKeys;
  bool m_ok = false;
};

// Names each case of a parameterised test after the `name` field of its parameter.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& tested) const {
    return tested.param.name;
  }
};

// The base of every test that runs the tool: one such test at a time in the whole Wine session
// (they share the registry's control sets, and ctest may run tests in parallel), a registry
// fixture that is always removed, and a check that no tool process outlives the test.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  RealRegistryFixture registry;

 private:
  HANDLE m_lock = nullptr;
};
