// CAboutBox: the small About box opened from the main dialog's window menu.
#pragma once

#include "framework/framework.h"

class CAboutBox : public CDialog {
 public:
  CAboutBox();

 protected:
  void DoDataExchange(CDataExchange* pDX) override;

  DECLARE_MESSAGE_MAP()
};
