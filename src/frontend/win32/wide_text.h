// UTF-8 <-> UTF-16 at the boundary of the window code (the W API).
#pragma once

#include <string>
#include <string_view>

namespace ost {

// Invalid UTF-8 comes out as U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace ost
