// A lock file an earlier build left readable by others is replaced, not
// chmodded: someone may already hold it open, and flock needs no write access.
// The lock counts only once the path still names the file locked.
#include "framework/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "framework/file_io.h"
#include "framework/folder_handle.h"

namespace hbafw {

namespace {
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr mode_t kLockMode = 0600;
constexpr int kAttempts = 5;
constexpr char kFlashingMark[] = "flashing\n";

bool RefusedError(int error) { return error == ELOOP || error == EISDIR || error == ENXIO; }

// A fresh, empty lock file renamed over name; false when it cannot be made.
bool ReplaceLockFile(const FolderHandle& folder, const std::string& name) {
    int fd = folder.ReplaceWithEmpty(name, kLockMode);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

bool SameFile(int fd, const FolderHandle& folder, const std::string& name) {
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::fstatat(folder.fd(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}
}  // namespace

RunLock::RunLock(const std::string& path, Join join) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    FolderHandle folder = FolderHandle::Open(FolderOf(path));
    struct stat st {};
    if (!folder.valid()) {
        // A machine without the folder has no lock to join; one reached
        // through another user's folder or link is not trusted.
        if (::lstat(FolderOf(path).c_str(), &st) == 0) state_ = State::Refused;
        return;
    }
    for (int attempt = 0; attempt < kAttempts && state_ == State::Unavailable; ++attempt) {
        fd_ = join == Join::Create ? folder.OpenReadWrite(name, kLockMode) : -1;
        // A lock file on a read-only file system can still be locked.
        if (join == Join::IfPresent || (fd_ < 0 && (errno == EROFS || errno == EACCES)))
            fd_ = ::openat(folder.fd(), name.c_str(), O_RDONLY | kOpenFlags);
        if (fd_ < 0) {
            if (RefusedError(errno)) state_ = State::Refused;
            return;
        }
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            state_ = State::Refused;
        } else if ((st.st_mode & 07777) != kLockMode && join == Join::IfPresent) {
            ::close(fd_);
            fd_ = -1;
            return;
        } else if ((st.st_mode & 07777) != kLockMode && ReplaceLockFile(folder, name)) {
            // Taken afresh at the next attempt.
        } else {
            int rc;
            while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
            }
            if (rc != 0) {
                state_ = errno == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
            } else if (SameFile(fd_, folder, name)) {
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
