// The test program's own fsync, in front of the C library's: it counts the flushes the
// POSIX providers ask for and can refuse the next one, as a full quota or a lost disk
// would.
#pragma once

namespace ost::contract {

int FlushesSeen();
void RefuseNextFlush();

}  // namespace ost::contract
