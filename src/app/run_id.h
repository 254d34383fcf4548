// The name of a run, for its journal lines and its folders.
#pragma once

#include <string>

#include "platform/system_port.h"

namespace ost {

// When the run began, to the second, and four random hex digits: names that sort by
// time and that two runs started in one second do not share.
std::string MakeRunId(SystemPort& system);

}  // namespace ost
