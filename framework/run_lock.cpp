// A lock file an earlier build left readable by others is replaced, not
// chmodded: someone may already hold it open, and flock needs no write access.
// The lock counts only once the path still names the file locked.
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
constexpr int kAttempts = 5;
constexpr char kFlashingMark[] = "flashing\n";

bool RefusedError(int error) { return error == ELOOP || error == EISDIR || error == ENXIO; }

// A fresh, empty lock file renamed over path; false when it cannot be made.
bool ReplaceLockFile(const std::string& path) {
    std::string fresh = path + ".new";
    ::unlink(fresh.c_str());
    int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags, kLockMode);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, kLockMode) == 0 && ::rename(fresh.c_str(), path.c_str()) == 0;
    ::close(fd);
    if (!ok) ::unlink(fresh.c_str());
    return ok;
}

bool SameFile(int fd, const std::string& path) {
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}
}  // namespace

RunLock::RunLock(const std::string& path, Join join) {
    for (int attempt = 0; attempt < kAttempts && state_ == State::Unavailable; ++attempt) {
        fd_ = join == Join::Create ? ::open(path.c_str(), O_RDWR | O_CREAT | kOpenFlags, kLockMode) : -1;
        // A lock file on a read-only file system can still be locked.
        if (join == Join::IfPresent || (fd_ < 0 && (errno == EROFS || errno == EACCES)))
            fd_ = ::open(path.c_str(), O_RDONLY | kOpenFlags);
        if (fd_ < 0) {
            if (RefusedError(errno)) state_ = State::Refused;
            return;
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            state_ = State::Refused;
        } else if ((st.st_mode & 07777) != kLockMode && join == Join::IfPresent) {
            ::close(fd_);
            fd_ = -1;
            return;
        } else if ((st.st_mode & 07777) != kLockMode && ReplaceLockFile(path)) {
            // Taken afresh at the next attempt.
        } else {
            int rc;
            while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
            }
            if (rc != 0) {
                state_ = errno == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
            } else if (SameFile(fd_, path)) {
                state_ = State::Held;
                return;
            }
        }
        ::close(fd_);
        fd_ = -1;
        if (state_ != State::Unavailable) return;
    }
}

RunLock::~RunLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool RunLock::SetFlashing() const {
    int fd = descriptor();
    if (fd < 0) return true;
    constexpr ssize_t size = sizeof kFlashingMark - 1;
    // A full file system takes the log's lines into its last block but may
    // have no block for the mark: only a mark on disk counts.
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, kFlashingMark, size, 0) == size && ::fsync(fd) == 0;
}

bool RunLock::ClearFlashing() const {
    int fd = descriptor();
    return fd < 0 || (::ftruncate(fd, 0) == 0 && ::fsync(fd) == 0);
}

bool RunLock::EarlierFlashUnseen() const {
    struct stat st {};
    return state_ == State::Held && ::fstat(fd_, &st) == 0 && st.st_size > 0;
}

}  // namespace hbafw
