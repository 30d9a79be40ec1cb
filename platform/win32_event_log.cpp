#include "platform/win32_event_log.h"

#include <windows.h>

#include <memory>
#include <string_view>
#include <vector>

#include "event_messages.h"

#ifndef MODEMCONFIG_VERSION
#error "MODEMCONFIG_VERSION must name the project's version"
#endif

namespace {

// ANSI text (key names come from the A calls) as UTF-16; line ends as CR LF, as Event
// Viewer shows them.
std::wstring Wide(std::string_view text) {
  std::string crlf;
  for (const char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  if (crlf.empty()) return {};
  const int size = static_cast<int>(crlf.size());
  const int wide = ::MultiByteToWideChar(CP_ACP, 0, crlf.data(), size, nullptr, 0);
  std::wstring result(static_cast<std::size_t>(wide > 0 ? wide : 0), L'\0');
  if (wide > 0) ::MultiByteToWideChar(CP_ACP, 0, crlf.data(), size, result.data(), wide);
  return result;
}

std::string LastError(const char* what) {
  return std::string(what) + " failed: error " + std::to_string(::GetLastError());
}

// Closes a handle on every path.
struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// Releases an event source on every path.
struct EventSourceCloser {
  void operator()(HANDLE source) const { ::DeregisterEventSource(source); }
};
using OwnedEventSource = std::unique_ptr<void, EventSourceCloser>;

// The process's user: its SID (in `buffer`) and its name as DOMAIN\user (the SID in text when
// it has no name).
struct Account {
  std::vector<BYTE> buffer;
  PSID sid = nullptr;
  std::wstring name = L"(unknown)";
};

Account ProcessAccount() {
  Account account;
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return account;
  const OwnedHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return account;
  account.buffer.resize(size);
  if (!::GetTokenInformation(token.get(), TokenUser, account.buffer.data(), size, &size)) {
    return account;
  }
  account.sid = reinterpret_cast<TOKEN_USER*>(account.buffer.data())->User.Sid;
  wchar_t user[256];
  wchar_t domain[256];
  DWORD userSize = 256;
  DWORD domainSize = 256;
  SID_NAME_USE use{};
  if (::LookupAccountSidW(nullptr, account.sid, user, &userSize, domain, &domainSize, &use)) {
    account.name = domainSize > 0 ? std::wstring(domain) + L"\\" + user : std::wstring(user);
  }
  return account;
}

}  // namespace

std::string SystemStatusText(RegStatus status) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(status), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  for (DWORD i = 0; i < length; ++i) {
    // The system's English texts are ASCII.
    text += buffer[i] < 0x80 ? static_cast<char>(buffer[i]) : '?';
  }
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "Error " + std::to_string(status) + "." : text;
}

std::string ReportSwitchEvent(const char* program, const SwitchRecord& record,
                              std::string (*statusText)(RegStatus status)) {
  try {
    const OwnedEventSource source(::RegisterEventSourceW(nullptr, kEventSourceName));
    if (!source) return LastError("RegisterEventSource");
    const Account account = ProcessAccount();
    const bool failed = record.AnyFailed();
    const std::wstring inserts[] = {
        Wide(program),
        Wide(MODEMCONFIG_VERSION),
        Wide(TargetModeText(record.target)),
        account.name,
        Wide(SwitchedKeysText(record, statusText)),
    };
    const wchar_t* strings[5];
    for (std::size_t i = 0; i < 5; ++i) strings[i] = inserts[i].c_str();
    if (!::ReportEventW(source.get(), failed ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
                        failed ? MSG_MODEMS_SWITCHED_WITH_FAILURES : MSG_MODEMS_SWITCHED,
                        account.sid, 5, 0, strings, nullptr)) {
      return LastError("ReportEvent");
    }
    return "";
  } catch (const std::exception& error) {
    return std::string("no event recorded: ") + error.what();
  }
}
