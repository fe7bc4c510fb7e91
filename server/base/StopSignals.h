// The one way a program here catches SIGINT and SIGTERM: both go to one
// handler, and the system calls they interrupt are restarted.
#pragma once

#include <signal.h>

// What the two signals did before, for a caller that gives them back.
struct SStopSignalActions {
    struct sigaction interrupt {};
    struct sigaction terminate {};
};

// Sends SIGINT and SIGTERM to pHandler; returns the actions they had.
SStopSignalActions CatchStopSignals(void (*pHandler)(int));
// Gives both signals the actions CatchStopSignals returned.
void RestoreStopSignals(const SStopSignalActions& previous);
