// The maker's two update hosts. A registry value may name others (a host name,
// optionally followed by ":port").
#pragma once

#include <string>

namespace ost {

inline constexpr char kPrimaryUpdateHost[] = "update1.lanxi-ostra.com";
inline constexpr char kSecondaryUpdateHost[] = "update2.lanxi-ostra.com";

inline std::string PrimaryUpdateHost() { return kPrimaryUpdateHost; }
inline std::string SecondaryUpdateHost() { return kSecondaryUpdateHost; }

}  // namespace ost
