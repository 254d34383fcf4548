// Where the elevated tool takes DLLs from: the system folder only, never its own folder
// (ordinary users may be able to write to it).
#pragma once

namespace ost {

// From here on a DLL loaded by name comes from the system folder only. Where the system
// lacks SetDefaultDllDirectories (Vista and 7 without update KB2533623), the search
// cannot be narrowed like that: the current folder is left out of it, and ODBC32.dll
// and what it loads are taken now from the system folder by their full paths
// (LoadFromSystemFolder). False when that failed: ODBC32.dll would then be looked for in
// the tool's folder first, and the tool must not go on.
bool RestrictDllSearch();

// Loads `name` (e.g. L"ODBC32.dll") from the system folder by its full path, the DLLs it
// imports looked for beside it first; true when the name now stands for that copy, so
// that a later load by name (the delay import's) finds it loaded.
bool LoadFromSystemFolder(const wchar_t* name);

}  // namespace ost
