// Windows paths as the tool compares and splits them, on every build.
#pragma once

#include <string>

namespace ost {

// Windows paths name one file whatever their letters' case or slashes.
bool SamePath(const std::string& a, const std::string& b);
// What follows the last slash or backslash; the whole path when there is none.
std::string BaseName(const std::string& path);

}  // namespace ost
