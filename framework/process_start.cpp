#include "framework/process_start.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <csignal>

#include "inventory/system_paths.h"

namespace hbafw {

void PrepareProcess() {
    // A closed standard descriptor would otherwise be taken by the first file
    // opened (console text would land in the lock file).
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0) continue;
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) ::close(null);
    }
    // An inherited "ignore" would make the kernel reap the flash's supervisor
    // before its end could be waited for.
    std::signal(SIGCHLD, SIG_DFL);
    // Commands are found where root's are, never through the caller's PATH.
    ::setenv("PATH", kCommandPath, 1);
}

}  // namespace hbafw
