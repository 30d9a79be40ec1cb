// modemprefix.exe: the console companion of the dialog, on the live registry through advapi32.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/modem_prefix.h"
#include "cli/report_output.h"
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

// Text as a redirected standard stream of a console program carries it: with CR LF line ends,
// as the C runtime's text mode writes them.
std::string WithCrLf(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 32);
  for (const char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

// Older consoles fail a WriteConsoleW of more than about 64 KB (a buffer the console shares):
// the text goes in pieces of 4096 UTF-16 units (8 KB).
constexpr std::size_t kConsolePieceUnits = 4096;

// Writes a report to standard output or error as its reader decodes it, every call checked;
// returns "" or the system's text of what failed. A console shows the characters themselves
// (WriteConsoleW, piece by piece). Redirected, text for people goes out in the console's output
// code page (the OEM one when there is no console), which a console and the programs that read
// a console program's pipe decode it with; JSON (pure ASCII) goes out as it is.
std::string WriteReport(DWORD stream, std::string_view text, UINT codePage) {
  if (text.empty()) return "";
  const HANDLE handle = ::GetStdHandle(stream);
  // Started without that stream at all (a detached process): there is no reader to fail.
  if (handle == nullptr) return "";
  const std::wstring wide = ToWide(text, codePage, /*strict=*/false).value_or(std::wstring());
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
    for (std::size_t at = 0; at < wide.size();) {
      const std::size_t piece =
          ConsolePieceLength(wide.data() + at, wide.size() - at, kConsolePieceUnits);
      DWORD written = 0;
      if (!::WriteConsoleW(handle, wide.data() + at, static_cast<DWORD>(piece), &written,
                           nullptr)) {
        return StatusText(static_cast<RegStatus>(::GetLastError()));
      }
      if (written == 0) return "the console took none of the text";
      at += written;
    }
    return "";
  }
  std::string bytes;
  if (codePage == CP_UTF8) {
    bytes = WithCrLf(text);
  } else {
    const UINT consolePage = ::GetConsoleOutputCP();
    bytes = WithCrLf(FromWide(wide, consolePage != 0 ? consolePage : CP_OEMCP));
  }
  for (std::size_t at = 0; at < bytes.size();) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data() + at, piece, &written, nullptr)) {
      return StatusText(static_cast<RegStatus>(::GetLastError()));
    }
    if (written == 0) return "the file took none of the text";
    at += written;
  }
  return "";
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
  // Names and the system's messages are in the ANSI code page; JSON is ASCII.
  return WriteRunOutput(code, out.str(), err.str(),
                        [json](OutputStream stream, std::string_view text) {
                          return stream == OutputStream::kOut
                                     ? WriteReport(STD_OUTPUT_HANDLE, text, json ? CP_UTF8 : CP_ACP)
                                     : WriteReport(STD_ERROR_HANDLE, text, CP_ACP);
                        });
}
