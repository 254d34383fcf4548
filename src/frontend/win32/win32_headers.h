// The Windows headers the window code uses, included one way everywhere.
#pragma once

#include "platform/win32/windows_headers.h"

#include <commctrl.h>
