// The maker's two update hosts. A registry value may name others (a host name,
// optionally followed by ":port").
#pragma once

namespace ost {

inline constexpr char kPrimaryUpdateHost[] = "update1.lanxi-ostra.com";
inline constexpr char kSecondaryUpdateHost[] = "update2.lanxi-ostra.com";

// Where the update host keeps the manifest and the packages.
inline constexpr char kUpdatePath[] = "/ostra/update1/";
inline constexpr char kManifestName[] = "server.txt";

}  // namespace ost
