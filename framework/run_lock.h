// One run at a time per machine: an exclusive flock on a file beside the log,
// taken without waiting and held until the object goes. The kernel releases it
// when the process ends in any way. The descriptor is close-on-exec, so no tool
// the run starts (a flash engine left running included) ever holds the lock.
#pragma once

#include <string>

namespace hbafw {

class RunLock {
public:
    enum class State {
        Held,        // this run holds the lock
        HeldElsewhere,  // another process holds it
        Unavailable,  // the lock file cannot be opened; the run goes on unlocked
    };

    explicit RunLock(const std::string& path);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    State state() const { return state_; }

private:
    int fd_ = -1;
    State state_ = State::Unavailable;
};

}  // namespace hbafw
