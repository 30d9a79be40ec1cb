// The message table of the events both programs record, read back from each built program
// through FormatMessage with its inserts, as Event Viewer reads it from the registered message
// file. (The events themselves: tests/wine/event-log-test.)
#include <gtest/gtest.h>

#include <string>

#include "tool_driver.h"

namespace {

constexpr DWORD kSwitched = 0x400003E8;              // information, event 1000
constexpr DWORD kSwitchedWithFailures = 0x800003E9;  // warning, event 1001

// FormatMessage of `id` from the program's message table, with five inserts.
std::string MessageOf(const std::string& program, DWORD id) {
  const HMODULE module = ::LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return "<cannot load " + program + ">";
  const char* inserts[] = {"modemprefix.exe", "1.0.0.1", "secure access (A)", "PC\\admin",
                           "SYSTEM\\K1: D -> A\r\nSYSTEM\\K2: D -> A"};
  char text[2048] = {};
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id,
                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof(text),
                       reinterpret_cast<va_list*>(const_cast<char**>(inserts)));
  const DWORD error = ::GetLastError();
  ::FreeLibrary(module);
  if (length == 0) return "<FormatMessage failed: " + std::to_string(error) + ">";
  return std::string(text, length);
}

TEST(EventMessagesTest, BothProgramsCarryTheFullTextOfEachEvent) {
  struct Case {
    DWORD id;
    std::string expected;
  };
  const Case cases[] = {
      {kSwitched,
       "modemprefix.exe 1.0.0.1 switched the modems to secure access (A).\r\n"
       "Account: PC\\admin\r\n"
       "Keys written (old -> new dial prefix):\r\n"
       "SYSTEM\\K1: D -> A\r\nSYSTEM\\K2: D -> A"},
      {kSwitchedWithFailures,
       "modemprefix.exe 1.0.0.1 switched the modems to secure access (A), but some keys could "
       "not be written.\r\n"
       "Account: PC\\admin\r\n"
       "Keys written or failed (old -> new dial prefix):\r\n"
       "SYSTEM\\K1: D -> A\r\nSYSTEM\\K2: D -> A"},
  };
  for (const std::string& program : {ToolExecutablePath(), CompanionExecutablePath()}) {
    for (const Case& c : cases) {
      EXPECT_EQ(MessageOf(program, c.id), c.expected) << program << " " << std::hex << c.id;
    }
  }
}

}  // namespace
