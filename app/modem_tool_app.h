// CModemToolApp: the application. Its initialisation runs the main dialog once and ends.
#pragma once

#include "framework/framework.h"

class CModemToolApp : public CWinApp {
 public:
  // Runs the main dialog modally, then returns FALSE so the process ends instead of entering
  // a message loop of its own.
  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};
