// modemprefix.exe: the console companion of the dialog, on the live registry through advapi32.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/modem_prefix.h"
#include "platform/win32_registry.h"
#include "switching/win32_version.h"

namespace {

// Whether the process token is elevated (an administrator's full token); nullopt when the
// token cannot be read.
std::optional<bool> IsElevated() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const BOOL read =
      ::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  ::CloseHandle(token);
  if (!read) return std::nullopt;
  return elevation.TokenIsElevated != 0;
}

std::string StatusText(RegStatus status) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(status), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
      reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? std::string(buffer, length) : PortableStatusText(status);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// The ANSI code page's bytes as UTF-8, through UTF-16. A byte without a character in the code
// page makes the strict conversion fail; the name is then converted with replacement
// characters and marked inexact.
Utf8Name AnsiToUtf8(std::string_view name) {
  if (name.empty()) return {};
  const int bytes = static_cast<int>(name.size());
  Utf8Name result;
  int wide = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), bytes, nullptr, 0);
  DWORD flags = MB_ERR_INVALID_CHARS;
  if (wide == 0) {
    result.exact = false;
    flags = 0;
    wide = ::MultiByteToWideChar(CP_ACP, 0, name.data(), bytes, nullptr, 0);
  }
  std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(CP_ACP, flags, name.data(), bytes, utf16.data(), wide);
  const int narrow =
      ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
  result.text.assign(static_cast<std::size_t>(narrow), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, result.text.data(), narrow, nullptr,
                        nullptr);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  Win32Registry registry;
  CliSystem system{registry, &QueryPlatformVersion, &IsElevated, &StatusText, &AnsiToUtf8, {}};
  ReportText out, err;
  const int code = RunModemPrefix(
      args, /*hiveSupported=*/false,
      [&](const CommandLine& line, ReportText& report, ReportText& errors) {
        return RunCommand(line, system, report, errors);
      },
      out, err);
  std::fwrite(out.str().data(), 1, out.str().size(), stdout);
  std::fflush(stdout);
  std::fwrite(err.str().data(), 1, err.str().size(), stderr);
  return code;
}
