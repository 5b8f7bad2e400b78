#include "framework/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace hbafw {

namespace {
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr mode_t kLockMode = 0600;
int heldDescriptor = -1;

bool RefusedError(int error) { return error == ELOOP || error == EISDIR || error == ENXIO; }
}  // namespace

RunLock::RunLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | kOpenFlags, kLockMode);
    // A lock file on a read-only file system can still be locked.
    if (fd_ < 0 && (errno == EROFS || errno == EACCES)) fd_ = ::open(path.c_str(), O_RDONLY | kOpenFlags);
    if (fd_ < 0) {
        state_ = RefusedError(errno) ? State::Refused : State::Unavailable;
        return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        state_ = State::Refused;
        ::close(fd_);
        fd_ = -1;
        return;
    }
    // A lock file an earlier build left readable by all is closed to others.
    if ((st.st_mode & 07777) != kLockMode) ::fchmod(fd_, kLockMode);
    int rc;
    while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        state_ = State::Held;
        heldDescriptor = fd_;
    } else {
        state_ = errno == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
        ::close(fd_);
        fd_ = -1;
    }
}

RunLock::~RunLock() {
    if (fd_ < 0) return;
    if (heldDescriptor == fd_) heldDescriptor = -1;
    ::close(fd_);
}

int RunLock::HeldDescriptor() { return heldDescriptor; }

}  // namespace hbafw
