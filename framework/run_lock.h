// One run at a time per machine: an exclusive flock on a file beside the log,
// taken without waiting and held until the object goes. The file is 0600, so
// only those who may run the component can hold it. The descriptor is
// close-on-exec, but a flash engine and its supervisor are handed it on
// purpose (descriptor()), so the lock outlives a killed component for as long
// as the flash it started goes on.
#pragma once

#include <string>
#include <string_view>

namespace hbafw {

inline constexpr std::string_view kAnotherRun = "ERROR! : Another firmware update is running on this machine.\n";
inline constexpr const char* kLockRefused = "ERROR! : The lock file is not a regular file of this user: ";
// Logged by the run that finds the mark of a flash whose end nobody logged (a
// power cut, or the component and its flash supervisor both killed).
inline constexpr const char* kEarlierFlashUnseen = "WARNING! : The end of the last flash on this machine was not seen.\n";

class RunLock {
public:
    enum class State {
        Held,           // this run holds the lock
        HeldElsewhere,  // another process holds it
        Refused,        // a link, FIFO, folder or another user's file is at the path
        Unavailable,    // the lock file cannot be opened; the run goes on unlocked
    };

    // Create: as a run takes it, making the file if missing and replacing an
    // earlier build's that others could open. IfPresent: as a reader that
    // writes nothing takes it; no file, or such an earlier build's, is no
    // run's lock then (Unavailable), as a run replaces that before it locks.
    enum class Join { Create, IfPresent };

    explicit RunLock(const std::string& path, Join join = Join::Create);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    State state() const { return state_; }

    // The descriptor of the held lock, or -1.
    int descriptor() const { return state_ == State::Held ? fd_ : -1; }

    // The lock file carries a mark while a flash's end is not yet in the log.
    // Set before an engine starts: false when it is not on disk, and the
    // engine must then not start. A lock not held has nothing to mark (true).
    [[nodiscard]] bool SetFlashing() const;
    // Cleared once the end is in the log and synced; false leaves the mark for
    // the next run to report. Also in a forked supervisor, on its inherited copy.
    [[nodiscard]] bool ClearFlashing() const;
    // True when this held lock found the mark of an earlier flash.
    bool EarlierFlashUnseen() const;

private:
    int fd_ = -1;
    State state_ = State::Unavailable;
};

}  // namespace hbafw
