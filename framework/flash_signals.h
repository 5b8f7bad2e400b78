// Signal handling around a flash: while the engine runs, hang-up, stop requests
// and broken pipes neither end the component nor reach the engine, and a stop
// request is remembered so it can be reported once the engine has ended.
// Outside a flash it changes nothing, except that a closed console pipe ends
// a write with EPIPE instead of the process.
#pragma once

#include <signal.h>

#include <string>

namespace hbafw {

// For the whole process: a write to a closed pipe fails instead of killing it.
// Started programs still get the default action, as a caught signal resets on exec.
void SurviveClosedPipes();

// Alive from just before the engine starts until it has ended; the destructor
// puts back the dispositions and mask it found.
class FlashSignalShield {
public:
    FlashSignalShield();
    ~FlashSignalShield();
    FlashSignalShield(const FlashSignalShield&) = delete;
    FlashSignalShield& operator=(const FlashSignalShield&) = delete;

    // The first SIGINT, SIGQUIT or SIGTERM received while shielded, or 0.
    int StopRequest() const;

    // In the forked engine before exec: the shielded signals are ignored, and
    // stay ignored across exec. Async-signal-safe.
    static void IgnoreInChild();

    static constexpr int kShieldedCount = 5;

private:
    struct sigaction savedActions_[kShieldedCount];
    sigset_t savedMask_;
};

// "SIGTERM" for SIGTERM, and so on for the shielded signals; "signal N" otherwise.
std::string SignalName(int signal);

}  // namespace hbafw
