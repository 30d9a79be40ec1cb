// The framework in one include: the application, dialogs, the status bar and the string list.
#pragma once

#include "framework/dialog.h"
#include "framework/status_bar_ctrl.h"
#include "framework/string_list.h"
#include "framework/win_app.h"
