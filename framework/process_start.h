// How every shipped program starts, whatever state its caller left: the
// standard descriptors open, SIGCHLD at its default and the fixed PATH.
#pragma once

namespace hbafw {

// Before anything else: descriptors 0 to 2 open (on /dev/null when closed),
// SIGCHLD at its default, and the fixed PATH for every command run.
void PrepareProcess();

}  // namespace hbafw
