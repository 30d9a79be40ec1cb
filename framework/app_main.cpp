// The process entry of a framework application. Built into the executable itself (not the
// framework library), so test programs with their own entry point can link the library.
#include <windows.h>

#include "framework/win_app.h"

int WINAPI WinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/,
                   int /*nShowCmd*/) {
  return AfxWinMain();
}

#if defined(__GLIBCXX__)
#include <cstdlib>

// libstdc++'s default terminate handler prints the type of an escaping exception, which drags
// its whole name demangler (about 70 KB) into a static executable. No exception escapes the
// framework's window procedures or AfxWinMain, and a GUI process has no console to print to, so
// the tool's handler simply ends the process.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
