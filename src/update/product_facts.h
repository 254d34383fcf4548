// Facts of the product and of the machines it runs on that the tool relies on: sizes,
// names and places that are not configured anywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ost {

// The two large buffers: what one download may bring, and what one package may unpack to.
constexpr size_t kReceiveBufferSize = 24000000;
constexpr size_t kUnpackBufferSize = 50000000;

// The web server: the two web DLLs run inside it and stop and start with it.
inline constexpr char kWebServerService[] = "W3SVC";
// Where a web DLL goes when its own folder cannot be written.
inline constexpr char kWebFallbackFolder[] = "d:\\wwwroot\\cgi-bin\\";
inline constexpr char kVelinFallback[] = "d:\\wwwroot\\cgi-bin\\Velin.dll";
inline constexpr char kOstDataFallback[] = "d:\\wwwroot\\cgi-bin\\OstData.dll";

// The longest service program path the service manager is asked for.
constexpr size_t kServicePathCapacity = 255;

// Where the update host keeps the manifest and the packages.
inline constexpr char kUpdatePath[] = "/ostra/update1/";
inline constexpr char kManifestName[] = "server.txt";

}  // namespace ost
