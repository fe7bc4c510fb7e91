#include "StopSignals.h"

SStopSignalActions CatchStopSignals(void (*pHandler)(int)) {
    struct sigaction action {};
    action.sa_handler = pHandler;
    sigemptyset(&action.sa_mask);
    // A signal that only asks to stop must not make a read or a write fail with EINTR.
    action.sa_flags = SA_RESTART;
    SStopSignalActions previous;
    ::sigaction(SIGTERM, &action, &previous.terminate);
    ::sigaction(SIGINT, &action, &previous.interrupt);
    return previous;
}

void RestoreStopSignals(const SStopSignalActions& previous) {
    ::sigaction(SIGTERM, &previous.terminate, nullptr);
    ::sigaction(SIGINT, &previous.interrupt, nullptr);
}
