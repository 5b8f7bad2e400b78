#include "framework/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace hbafw {

namespace {
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
}  // namespace

RunLock::RunLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | kOpenFlags, 0644);
    // A lock file left by an earlier run can still be locked where it cannot be written.
    if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDONLY | kOpenFlags);
    if (fd_ < 0) return;
    int rc;
    while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        state_ = State::Held;
    } else {
        state_ = errno == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
        ::close(fd_);
        fd_ = -1;
    }
}

RunLock::~RunLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace hbafw
