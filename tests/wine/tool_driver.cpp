#include "tool_driver.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <utility>

#include "owned_key.h"
#include "platform/memory_registry.h"
#include "platform/registry.h"

#ifndef MODEMCONFIG_TOOL_EXE
#error "MODEMCONFIG_TOOL_EXE must name the built tool (a Windows path)"
#endif
#ifndef MODEMCONFIG_COMPANION_EXE
#error "MODEMCONFIG_COMPANION_EXE must name the built modemprefix.exe (a Windows path)"
#endif
#ifndef MODEMCONFIG_FIXTURE_DIR
#error "MODEMCONFIG_FIXTURE_DIR must name tests/fixtures (a Windows path)"
#endif

namespace {

constexpr UINT kAnswerTimeoutMs = 2000;  // for one message to another process
constexpr DWORD kPollMs = 10;
constexpr int kStatusLineId = 101;
constexpr char kNoAnswer[] = "<no answer>";
constexpr char kToolImageName[] = "ModemConfig.exe";

// Polls `done` every few milliseconds until it holds or `timeoutMs` have passed.
bool PollUntil(DWORD timeoutMs, const std::function<bool()>& done) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(kPollMs);
  }
}

// Owns one kernel handle.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
  ~OwnedHandle() {
    if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  [[nodiscard]] HANDLE Get() const { return m_handle; }
  [[nodiscard]] bool Valid() const {
    return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE m_handle;
};

// Memory allocated in another process, freed with it.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, SIZE_T size)
      : m_process(process),
        m_address(
            ::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
  ~RemoteBuffer() {
    if (m_address != nullptr) ::VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  [[nodiscard]] void* Get() const { return m_address; }

 private:
  HANDLE m_process;
  void* m_address;
};

std::string ClassOf(HWND window) {
  char name[64] = {};
  ::GetClassNameA(window, name, sizeof(name));
  return name;
}

// Every top-level window of one process.
std::vector<HWND> TopLevelWindowsOf(DWORD processId) {
  struct Search {
    DWORD processId;
    std::vector<HWND> found;
  } search{processId, {}};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == s->processId) s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Ids of the running processes whose image is the tool's.
std::vector<DWORD> RunningToolProcesses() {
  std::vector<DWORD> ids;
  const OwnedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return ids;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32First(snapshot.Get(), &entry); more;
       more = ::Process32Next(snapshot.Get(), &entry)) {
    if (::lstrcmpiA(entry.szExeFile, kToolImageName) == 0) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::istringstream in(path);
  for (std::string part; std::getline(in, part, '\\');) parts.push_back(part);
  return parts;
}

std::string JoinPath(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

// Reads one value of an open key; nullopt if it does not exist.
std::optional<RegistryValue> QueryValue(HKEY key, const char* name) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  RegistryValue value{type, std::vector<BYTE>(size)};
  if (::RegQueryValueExA(key, name, nullptr, &type, value.data.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

// The paths of every key of an in-memory tree below HKEY_LOCAL_MACHINE, each after its parent.
void CollectKeys(MemoryRegistry& tree, const std::string& path, std::vector<std::string>& out) {
  RegKey key(tree);
  if (key.Open(path.c_str()) != regstatus::kSuccess) return;
  std::vector<std::string> children;
  for (std::uint32_t index = 0;; ++index) {
    char name[kRegBufferSize];
    std::uint32_t size = sizeof(name);
    if (tree.EnumSubkey(key.Get(), index, name, &size) != regstatus::kSuccess) break;
    children.emplace_back(name, size);
  }
  key.Reset();
  for (const std::string& child : children) {
    const std::string childPath = JoinPath(path, child);  // `out` grows below: no reference
    out.push_back(childPath);
    CollectKeys(tree, childPath, out);
  }
}

}  // namespace

std::string ToolExecutablePath() { return MODEMCONFIG_TOOL_EXE; }
std::string CompanionExecutablePath() { return MODEMCONFIG_COMPANION_EXE; }

namespace {

// A temporary file that the child writes through an inherited handle; deleted when closed.
class CaptureFile {
 public:
  // `access`: GENERIC_READ alone makes a file every write to fails.
  explicit CaptureFile(DWORD access = GENERIC_READ | GENERIC_WRITE) {
    char folder[MAX_PATH] = {};
    char name[MAX_PATH] = {};
    ::GetTempPathA(sizeof(folder), folder);
    ::GetTempFileNameA(folder, "cap", 0, name);
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    m_handle = ::CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  }
  ~CaptureFile() {
    if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
  }
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;
  [[nodiscard]] HANDLE Get() const { return m_handle; }

  std::string ReadAll() const {
    std::string text;
    ::SetFilePointer(m_handle, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(m_handle, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
      text.append(chunk, read);
    }
    return text;
  }

 private:
  HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// A console for a program to write to, allocated for the test and freed again: its screen
// buffer is read back whole.
class CaptureConsole {
 public:
  static constexpr SHORT kWidth = 200;
  static constexpr SHORT kLines = 2000;

  CaptureConsole() {
    // A test program started by ctest under Wine is attached to a console without a screen
    // buffer: it lets go of that one and takes a console of its own.
    m_allocated = ::AllocConsole() != FALSE || (::FreeConsole() && ::AllocConsole());
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    m_handle =
        ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherit, OPEN_EXISTING, 0, nullptr);
    if (m_handle != INVALID_HANDLE_VALUE &&
        !::SetConsoleScreenBufferSize(m_handle, COORD{kWidth, kLines})) {
      ::CloseHandle(m_handle);
      m_handle = INVALID_HANDLE_VALUE;
    }
  }
  ~CaptureConsole() {
    if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
    if (m_allocated) ::FreeConsole();
  }
  CaptureConsole(const CaptureConsole&) = delete;
  CaptureConsole& operator=(const CaptureConsole&) = delete;
  [[nodiscard]] HANDLE Get() const { return m_handle; }

  // Every line up to the last one written, each ended by "\n", its trailing blanks dropped.
  std::string ReadAll() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(m_handle, &info)) return "<no console>";
    std::string text;
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
      std::string line(static_cast<std::size_t>(kWidth), ' ');
      DWORD read = 0;
      ::ReadConsoleOutputCharacterA(m_handle, line.data(), kWidth, COORD{0, y}, &read);
      line.resize(read);
      line.erase(line.find_last_not_of(' ') + 1);
      if (y < info.dwCursorPosition.Y || !line.empty()) text += line + "\n";
    }
    return text;
  }

 private:
  HANDLE m_handle = INVALID_HANDLE_VALUE;
  bool m_allocated = false;
};

}  // namespace

ConsoleRun RunConsoleProgram(const std::string& executable, const std::string& arguments,
                             StartRights rights, DWORD timeoutMs, StandardOutput output) {
  ConsoleRun run;
  HANDLE limitedToken = nullptr;
  if (rights == StartRights::kLimited) {
    HANDLE own = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &own)) return run;
    const OwnedHandle ownToken(own);
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!::GetTokenInformation(own, TokenLinkedToken, &linked, sizeof(linked), &size)) {
      run.err = "the test's token has no linked limited token";
      return run;
    }
    const OwnedHandle linkedToken(linked.LinkedToken);
    if (!::DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                            TokenPrimary, &limitedToken)) {
      run.err = "the limited token cannot be made a primary one";
      return run;
    }
  }
  const OwnedHandle token(limitedToken);
  const CaptureFile out(output == StandardOutput::kReadOnlyFile ? GENERIC_READ
                                                                : GENERIC_READ | GENERIC_WRITE);
  const CaptureFile err;
  if (out.Get() == INVALID_HANDLE_VALUE || err.Get() == INVALID_HANDLE_VALUE) return run;
  std::optional<CaptureConsole> console;
  if (output == StandardOutput::kConsole) {
    console.emplace();
    if (console->Get() == INVALID_HANDLE_VALUE) {
      run.err = "no console of 2000 lines: error " + std::to_string(::GetLastError());
      return run;
    }
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output == StandardOutput::kNone      ? nullptr
                       : output == StandardOutput::kConsole ? console->Get()
                                                            : out.Get();
  startup.hStdError = err.Get();
  std::string commandLine = "\"";
  commandLine += executable;
  commandLine += "\" ";
  commandLine += arguments;
  PROCESS_INFORMATION started{};
  // A program writing to the test's console shares it; one without standard output runs
  // detached, without a console (with one, Wine would hand it the console's output); any
  // other gets a console of its own.
  const DWORD flags = console                           ? 0
                      : output == StandardOutput::kNone ? DETACHED_PROCESS
                                                        : CREATE_NO_WINDOW;
  const BOOL created =
      token.Get() != nullptr
          ? ::CreateProcessAsUserA(token.Get(), executable.c_str(), commandLine.data(), nullptr,
                                   nullptr, TRUE, flags, nullptr, nullptr, &startup, &started)
          : ::CreateProcessA(executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                             nullptr, nullptr, &startup, &started);
  if (!created) {
    run.err = "could not start " + executable + ": error " + std::to_string(::GetLastError());
    return run;
  }
  const OwnedHandle process(started.hProcess);
  const OwnedHandle thread(started.hThread);
  if (::WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (::GetExitCodeProcess(process.Get(), &code)) run.exitCode = code;
  } else {
    ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), 5000);
  }
  run.out = console ? console->ReadAll() : out.ReadAll();
  run.err += err.ReadAll();
  return run;
}

std::string FixturePath(const std::string& fileName) {
  return std::string(MODEMCONFIG_FIXTURE_DIR) + "\\" + fileName;
}

std::ostream& operator<<(std::ostream& out, const ShownMessage& message) {
  return out << "[" << message.caption << "] \"" << message.text << "\"";
}

std::ostream& operator<<(std::ostream& out, const RegistryValue& value) {
  out << "type " << value.type << ", bytes";
  for (BYTE b : value.data) out << ' ' << static_cast<int>(b);
  return out;
}

std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                             &length)) {
    return kNoAnswer;
  }
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &copied)) {
    return kNoAnswer;
  }
  text.resize(std::min<std::size_t>(copied, length));
  return text;
}

std::string MessageBoxText(HWND box) {
  const HWND text = ::GetDlgItem(box, 0xFFFF);
  return text != nullptr ? TextOf(text) : "<no text control>";
}

// ---- ToolRun

ToolRun::~ToolRun() { Kill(); }

std::string ToolRun::Start(DWORD timeoutMs) {
  if (m_process != nullptr) return "the tool was started already";
  std::string commandLine = "\"";
  commandLine += ToolExecutablePath();
  commandLine += '"';
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return "CreateProcess(" + commandLine + ") failed: " + std::to_string(::GetLastError());
  }
  ::CloseHandle(info.hThread);
  m_process = info.hProcess;
  m_processId = info.dwProcessId;

  // The dialog exists before its scan has run; it is ready once it is visible and its status
  // line answers with a text.
  std::string lastStatus;
  const bool ready = PollUntil(timeoutMs, [&] {
    if (::WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0) return true;
    for (HWND window : TopLevelWindowsOf(m_processId)) {
      char title[256] = {};
      ::GetWindowTextA(window, title, sizeof(title));
      if (std::strcmp(title, kToolDialogTitle) == 0 && ::IsWindowVisible(window)) {
        m_dialog = window;
      }
    }
    if (m_dialog == nullptr) return false;
    lastStatus = StatusText();
    return !lastStatus.empty() && lastStatus != kNoAnswer;
  });
  if (::WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0) {
    DWORD code = 0;
    ::GetExitCodeProcess(m_process, &code);
    return "the tool ended before its dialog was ready, exit code " + std::to_string(code);
  }
  if (!ready) {
    return m_dialog == nullptr ? "no visible window titled exactly \"" +
                                     std::string(kToolDialogTitle) + "\" appeared"
                               : "the status line stayed \"" + lastStatus + "\"";
  }
  return "";
}

std::string ToolRun::StatusText() const {
  const HWND statusLine = ::GetDlgItem(m_dialog, kStatusLineId);
  if (statusLine == nullptr) return "<no status line>";
  // SB_GETTEXTA writes to an address in the tool's own memory. Windows answers for the simple
  // part at SB_SIMPLEID, Wine at part 0.
  constexpr SIZE_T kSize = 512;
  RemoteBuffer buffer(m_process, kSize);
  if (buffer.Get() == nullptr) return "<VirtualAllocEx failed>";
  for (WPARAM part : {WPARAM{SB_SIMPLEID}, WPARAM{0}}) {
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutA(statusLine, SB_GETTEXTLENGTHA, part, 0, SMTO_ABORTIFHUNG,
                               kAnswerTimeoutMs, &answer)) {
      return kNoAnswer;
    }
    if (LOWORD(answer) >= kSize) return "<too long>";
    std::vector<char> text(kSize, '\xCC');
    if (!::WriteProcessMemory(m_process, buffer.Get(), text.data(), kSize, nullptr)) {
      return "<WriteProcessMemory failed>";
    }
    if (!::SendMessageTimeoutA(statusLine, SB_GETTEXTA, part,
                               reinterpret_cast<LPARAM>(buffer.Get()), SMTO_ABORTIFHUNG,
                               kAnswerTimeoutMs, &answer)) {
      return kNoAnswer;
    }
    // The answer's low word is the text's length; a part that holds nothing writes nothing.
    const std::size_t length = LOWORD(answer);
    if (length == 0) continue;
    if (length >= kSize) return "<too long>";
    if (!::ReadProcessMemory(m_process, buffer.Get(), text.data(), kSize, nullptr)) {
      return "<ReadProcessMemory failed>";
    }
    if (text[length] != '\0') return "<not terminated at its length>";
    return std::string(text.data(), length);
  }
  return "";
}

UINT ToolRun::CheckState(int controlId) const {
  DWORD_PTR state = 0;
  if (!::SendMessageTimeoutA(::GetDlgItem(m_dialog, controlId), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG,
                             kAnswerTimeoutMs, &state)) {
    return ~0u;
  }
  return static_cast<UINT>(state);
}

void ToolRun::PostClick(int controlId) const {
  ::PostMessageA(::GetDlgItem(m_dialog, controlId), BM_CLICK, 0, 0);
}

void ToolRun::PostSysCommand(WPARAM command) const {
  ::PostMessageA(m_dialog, WM_SYSCOMMAND, command, 0);
}

HWND ToolRun::WaitForOwnedBox(DWORD timeoutMs) const {
  HWND found = nullptr;
  PollUntil(timeoutMs, [&] {
    for (HWND window : TopLevelWindowsOf(m_processId)) {
      if (::GetWindow(window, GW_OWNER) == m_dialog && ClassOf(window) == "#32770" &&
          ::IsWindowVisible(window)) {
        found = window;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool ToolRun::PressOk(HWND box, DWORD timeoutMs) const {
  ::PostMessageA(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  return PollUntil(timeoutMs, [&] { return !::IsWindow(box); });
}

RunEnding ToolRun::FinishPressingOk(DWORD timeoutMs) {
  RunEnding ending;
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (::WaitForSingleObject(m_process, 0) != WAIT_OBJECT_0) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
      Kill();
      return ending;
    }
    const HWND box = WaitForOwnedBox(kPollMs);
    if (box == nullptr) continue;
    ending.messages.push_back({TextOf(box), MessageBoxText(box)});
    PressOk(box, static_cast<DWORD>(deadline - std::min(deadline, ::GetTickCount64())));
  }
  DWORD code = 0;
  ::GetExitCodeProcess(m_process, &code);
  ending.exitCode = code;
  return ending;
}

std::optional<DWORD> ToolRun::WaitForExit(DWORD timeoutMs) {
  if (m_process == nullptr) return std::nullopt;
  if (::WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) {
    Kill();
    return std::nullopt;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(m_process, &code);
  return code;
}

void ToolRun::Kill() {
  if (m_process == nullptr) return;
  if (::WaitForSingleObject(m_process, 0) != WAIT_OBJECT_0) {
    ::TerminateProcess(m_process, 1);
    ::WaitForSingleObject(m_process, 5000);
  }
  ::CloseHandle(std::exchange(m_process, nullptr));
}

// ---- The real registry

RealRegistryFixture::~RealRegistryFixture() {
  const std::string failure = Remove();
  if (!failure.empty()) ADD_FAILURE() << failure;
}

std::string RealRegistryFixture::Import(MemoryRegistry& tree) {
  std::vector<std::string> keys;
  CollectKeys(tree, "", keys);
  for (const std::string& path : keys) {
    OwnedKey key;
    DWORD disposition = 0;
    LSTATUS status = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, key.Put(), &disposition);
    if (status != ERROR_SUCCESS) {
      return "RegCreateKeyExA(" + path + ") = " + std::to_string(status);
    }
    const bool created = disposition == REG_CREATED_NEW_KEY;
    if (created) m_createdKeys.push_back(path);
    for (const StoredValue& value : tree.Values(path)) {
      if (!created) {
        m_replacedValues.push_back({path, value.name, QueryValue(key.Get(), value.name.c_str())});
      }
      status = ::RegSetValueExA(key.Get(), value.name.c_str(), 0, value.type, value.data.data(),
                                static_cast<DWORD>(value.data.size()));
      if (status != ERROR_SUCCESS) {
        return "RegSetValueExA(" + path + ", " + value.name + ") = " + std::to_string(status);
      }
    }
  }
  return "";
}

std::string RealRegistryFixture::ImportFile(const std::string& fileName) {
  MemoryRegistry tree;
  try {
    tree.LoadRegFile(FixturePath(fileName));
  } catch (const std::exception& error) {
    return error.what();
  }
  return Import(tree);
}

std::string RealRegistryFixture::Remove() {
  std::string failures;
  // Values first: their keys may be below keys about to go.
  for (auto it = m_replacedValues.rbegin(); it != m_replacedValues.rend(); ++it) {
    OwnedKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, it->keyPath.c_str(), 0, KEY_ALL_ACCESS, key.Put()) !=
        ERROR_SUCCESS) {
      continue;
    }
    const LSTATUS status =
        it->before
            ? ::RegSetValueExA(key.Get(), it->name.c_str(), 0, it->before->type,
                               it->before->data.data(), static_cast<DWORD>(it->before->data.size()))
            : ::RegDeleteValueA(key.Get(), it->name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      failures +=
          "restoring " + it->keyPath + " " + it->name + ": " + std::to_string(status) + "\n";
    }
  }
  m_replacedValues.clear();
  for (auto it = m_createdKeys.rbegin(); it != m_createdKeys.rend(); ++it) {
    const LSTATUS status = DeleteMachineKey(*it);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      failures += "RegDeleteKeyA(" + *it + ") = " + std::to_string(status) + "\n";
    }
  }
  m_createdKeys.clear();
  return failures;
}

const std::string kCcsDemoModem =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}"
    "\\0000\\Settings";
const std::string kCs1DemoModem =
    "SYSTEM\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000\\Settings";

std::string ImportDemoModem(RealRegistryFixture& registry, const char* ccsPrefix,
                            const char* cs1Prefix) {
  MemoryRegistry tree;
  try {
    tree.LoadRegFile(FixturePath("demo_modem.reg"));
  } catch (const std::exception& error) {
    return error.what();
  }
  // The file holds both keys; a path missing from it would show up as a third key here.
  if (!tree.KeyExists(kCcsDemoModem) || !tree.KeyExists(kCs1DemoModem)) {
    return "demo_modem.reg no longer holds the two settings keys";
  }
  tree.SetString(kCcsDemoModem, "DialPrefix", ccsPrefix);
  tree.SetString(kCs1DemoModem, "DialPrefix", cs1Prefix);
  return registry.Import(tree);
}

std::optional<RegistryValue> ReadMachineValue(const std::string& keyPath, const char* name) {
  OwnedKey key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Put()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return QueryValue(key.Get(), name);
}

RegistryValue StringValue(const std::string& text) {
  RegistryValue value{REG_SZ, std::vector<BYTE>(text.begin(), text.end())};
  value.data.push_back(0);
  return value;
}

bool MachineKeyExists(const std::string& keyPath) {
  OwnedKey key;
  return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Put()) ==
         ERROR_SUCCESS;
}

LSTATUS DeleteMachineKey(const std::string& keyPath) {
  return ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
}

// ---- The Windows version Wine reports

ScopedWineVersion::ScopedWineVersion(const char* version) {
  const std::string path = std::string("Software\\Wine\\AppDefaults\\") + kToolImageName;
  std::string sofar;
  OwnedKey key;
  for (const std::string& part : SplitPath(path)) {
    sofar = JoinPath(sofar, part);
    DWORD disposition = 0;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, sofar.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          key.Put(), &disposition) != ERROR_SUCCESS) {
      return;
    }
    if (disposition == REG_CREATED_NEW_KEY) m_createdKeys.push_back(sofar);
  }
  m_ok = ::RegSetValueExA(key.Get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                          static_cast<DWORD>(std::strlen(version) + 1)) == ERROR_SUCCESS;
}

ScopedWineVersion::~ScopedWineVersion() {
  OwnedKey key;
  const std::string path = std::string("Software\\Wine\\AppDefaults\\") + kToolImageName;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, key.Put()) ==
      ERROR_SUCCESS) {
    ::RegDeleteValueA(key.Get(), "Version");
  }
  for (auto it = m_createdKeys.rbegin(); it != m_createdKeys.rend(); ++it) {
    ::RegDeleteKeyA(HKEY_CURRENT_USER, it->c_str());
  }
}

// ---- The test base

void ToolTest::SetUp() {
  // A named mutex is shared by every process of the Wine session; one that a crashed test left
  // behind is handed over as abandoned, which is as good as free.
  m_lock = ::CreateMutexA(nullptr, FALSE, "ModemConfigToolTests");
  ASSERT_NE(m_lock, nullptr);
  const DWORD waited = ::WaitForSingleObject(m_lock, 120000);
  ASSERT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) << "lock: " << waited;
}

void ToolTest::TearDown() {
  const std::string failure = registry.Remove();
  EXPECT_EQ(failure, "");
  // Every ToolRun of the test has gone by now, and with it its process.
  std::vector<DWORD> left;
  PollUntil(2000, [&] { return (left = RunningToolProcesses()).empty(); });
  EXPECT_TRUE(left.empty()) << left.size() << " tool process(es) still running";
  for (DWORD id : left) {
    const OwnedHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (process.Valid()) {
      ::TerminateProcess(process.Get(), 1);
      ::WaitForSingleObject(process.Get(), 5000);
    }
  }
  if (m_lock != nullptr) {
    ::ReleaseMutex(m_lock);
    ::CloseHandle(std::exchange(m_lock, nullptr));
  }
}
