// The dialog in a terminal: a full-screen ncursesw front end over the same core as
// the Windows window.
#pragma once

#include "platform/platform.h"

namespace ost {

// Runs the whole program on the machine's providers in the terminal on standard input and
// output, and leaves the terminal as it found it. Exit status: 0 when the run
// reached the finished state (the enabled close button), 1 otherwise, also when
// the terminal cannot be used.
int RunTui(const Platform& machine, bool stage = false);

}  // namespace ost
