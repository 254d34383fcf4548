// The ODBC API of the platform's driver manager (ODBC32 or unixODBC).
#pragma once

// ODBC32's headers need the Windows types first; unixODBC's stand alone.
#if __has_include(<windows.h>)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
