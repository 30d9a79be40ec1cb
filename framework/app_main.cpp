// The process entry of a framework application. Built into the executable itself (not the
// framework library), so test programs with their own entry point can link the library.
#include <windows.h>

#include "framework/win_app.h"

int WINAPI WinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/,
                   int /*nShowCmd*/) {
  return AfxWinMain();
}
