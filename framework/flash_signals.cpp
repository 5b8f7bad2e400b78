#include "framework/flash_signals.h"

#include <csignal>

namespace hbafw {

namespace {

constexpr int kShielded[FlashSignalShield::kShieldedCount] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};

volatile std::sig_atomic_t stopRequest = 0;

void RecordSignal(int signal) {
    if (stopRequest == 0 && signal != SIGHUP && signal != SIGPIPE) stopRequest = signal;
}

void IgnorePipeSignal(int) {}

sigset_t ShieldedSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kShielded) sigaddset(&set, signal);
    return set;
}

}  // namespace

void SurviveClosedPipes() {
    struct sigaction action {};
    action.sa_handler = IgnorePipeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGPIPE, &action, nullptr);
}

FlashSignalShield::FlashSignalShield() {
    stopRequest = 0;
    struct sigaction action {};
    action.sa_handler = RecordSignal;
    action.sa_mask = ShieldedSet();
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kShieldedCount; ++i) sigaction(kShielded[i], &action, &savedActions_[i]);
    sigset_t set = ShieldedSet();
    sigprocmask(SIG_UNBLOCK, &set, &savedMask_);
}

FlashSignalShield::~FlashSignalShield() {
    for (int i = 0; i < kShieldedCount; ++i) sigaction(kShielded[i], &savedActions_[i], nullptr);
    sigprocmask(SIG_SETMASK, &savedMask_, nullptr);
}

int FlashSignalShield::StopRequest() const { return stopRequest; }

void FlashSignalShield::IgnoreInChild() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    for (int signal : kShielded) sigaction(signal, &action, nullptr);
}

std::string SignalName(int signal) {
    switch (signal) {
        case SIGHUP: return "SIGHUP";
        case SIGINT: return "SIGINT";
        case SIGQUIT: return "SIGQUIT";
        case SIGTERM: return "SIGTERM";
        case SIGPIPE: return "SIGPIPE";
        default: return "signal " + std::to_string(signal);
    }
}

}  // namespace hbafw
