// modemprefix.exe: the console companion of the dialog, on the live registry through advapi32.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/modem_prefix.h"
#include "platform/replace_file.h"
#include "platform/win32_event_log.h"
#include "platform/win32_registry.h"
#include "platform/win32_version.h"

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

// `text` in code page `codePage` as UTF-16; with `strict`, a byte without a character in the
// code page fails the conversion (nullopt).
std::optional<std::wstring> ToWide(std::string_view text, UINT codePage, bool strict) {
  if (text.empty()) return std::wstring();
  const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  const int bytes = static_cast<int>(text.size());
  const int wide = ::MultiByteToWideChar(codePage, flags, text.data(), bytes, nullptr, 0);
  if (wide == 0) return std::nullopt;
  std::wstring result(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(codePage, flags, text.data(), bytes, result.data(), wide);
  return result;
}

std::string FromWide(std::wstring_view wide, UINT codePage) {
  if (wide.empty()) return {};
  const int units = static_cast<int>(wide.size());
  const int narrow =
      ::WideCharToMultiByte(codePage, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(narrow), '\0');
  ::WideCharToMultiByte(codePage, 0, wide.data(), units, result.data(), narrow, nullptr, nullptr);
  return result;
}

// The ANSI code page's bytes as UTF-8, through UTF-16. A byte without a character in the code
// page makes the strict conversion fail; the name is then converted with replacement
// characters and marked inexact.
Utf8Name AnsiToUtf8(std::string_view name) {
  std::optional<std::wstring> wide = ToWide(name, CP_ACP, /*strict=*/true);
  const bool exact = wide.has_value();
  if (!exact) wide = ToWide(name, CP_ACP, /*strict=*/false);
  return Utf8Name{FromWide(wide.value_or(std::wstring()), CP_UTF8), exact};
}

// Writes a report to standard output or error as its reader decodes it. A console shows the
// characters themselves (WriteConsoleW). Redirected, text for people goes out in the console's
// output code page (the OEM one when there is no console), which a console and the programs
// that read a console program's pipe decode it with; UTF-8 (JSON) goes out as it is.
void WriteReport(DWORD stream, std::FILE* file, const std::string& text, UINT codePage) {
  if (text.empty()) return;
  const HANDLE handle = ::GetStdHandle(stream);
  DWORD mode = 0;
  const std::wstring wide = ToWide(text, codePage, /*strict=*/false).value_or(std::wstring());
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
    DWORD written = 0;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  if (codePage == CP_UTF8) {
    std::fwrite(text.data(), 1, text.size(), file);
  } else {
    const UINT consolePage = ::GetConsoleOutputCP();
    const std::string out = FromWide(wide, consolePage != 0 ? consolePage : CP_OEMCP);
    std::fwrite(out.data(), 1, out.size(), file);
  }
  std::fflush(file);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  Win32Registry registry;
  CliSystem system{registry, &QueryPlatformVersion, &IsElevated, &StatusText, &AnsiToUtf8, {}};
  system.replaceFile = &ReplaceFileWith;
  system.recordSwitch = [](const SwitchRecord& record) {
    return ReportSwitchEvent("modemprefix.exe", record, &StatusText);
  };
  ReportText out, err;
  bool json = false;
  const int code = RunModemPrefix(
      args, /*hiveSupported=*/false,
      [&](const CommandLine& line, ReportText& report, ReportText& errors) {
        json = line.json;
        return RunCommand(line, system, report, errors);
      },
      out, err);
  // Names and the system's messages are in the ANSI code page; JSON is UTF-8.
  WriteReport(STD_OUTPUT_HANDLE, stdout, out.str(), json ? CP_UTF8 : CP_ACP);
  WriteReport(STD_ERROR_HANDLE, stderr, err.str(), CP_ACP);
  return code;
}
