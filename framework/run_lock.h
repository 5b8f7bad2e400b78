// One run at a time per machine: an exclusive flock on a file beside the log,
// taken without waiting and held until the object goes. The file is 0600, so
// only those who may run the component can hold it. The descriptor is
// close-on-exec, but a flash engine and its supervisor are handed it on
// purpose (HeldDescriptor), so the lock outlives a killed component for as long
// as the flash it started goes on.
#pragma once

#include <string>

namespace hbafw {

inline constexpr const char* kLockRefused = "ERROR! : The lock file is not a regular file of this user: ";

class RunLock {
public:
    enum class State {
        Held,           // this run holds the lock
        HeldElsewhere,  // another process holds it
        Refused,        // a link, FIFO, folder or another user's file is at the path
        Unavailable,    // the lock file cannot be opened; the run goes on unlocked
    };

    explicit RunLock(const std::string& path);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    State state() const { return state_; }

    // The descriptor of the lock this process holds, or -1.
    static int HeldDescriptor();

private:
    int fd_ = -1;
    State state_ = State::Unavailable;
};

}  // namespace hbafw
