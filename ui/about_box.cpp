#include "ui/about_box.h"

#include "ui/resource.h"

CAboutBox::CAboutBox() : CDialog(IDD_ABOUT_INFO) {}

void CAboutBox::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

BEGIN_MESSAGE_MAP(CAboutBox, CDialog)
END_MESSAGE_MAP()
