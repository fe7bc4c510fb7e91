// How long the one thread may wait on a peer, phase by phase. Each bound is
// written here once and handed to the blocking call that waits; the socket
// layer enforces what it is given.
#pragma once

#include "WaitBounds.h"

struct SWaitPolicy {
    // The rest of a request head split over packets: 1 s in all, gathered
    // between read events, so nobody waits for it.
    SWaitBounds requestHead{.nDeadlineMs = 1000};
    // Below 1 KiB/s over a period a send counts as stalled: far below any real
    // network, but a trickle reader or TCP's window probes are not progress.
    SWaitBounds wholeFile{.nStallMs = 10000, .nMinimumRate = 1024, .bShared = true};
    // A media player that has buffered enough stops reading, and asks again
    // where it stopped: its range answer is let go soon.
    SWaitBounds range{.nStallMs = 500, .nMinimumRate = 1024, .bShared = true};
    // A body the server made (a page, a listing): as a whole file.
    SWaitBounds memoryBody = wholeFile;
    // An upload's body: as a whole file, the other way.
    SWaitBounds uploadBody = wholeFile;
    // What the client of a refused upload still sends is read and dropped for
    // this long, up to nRefusedBodyBytes, so it reads the refusal, not a reset.
    SWaitBounds refusedBody{.nDeadlineMs = 1000};
    long long nRefusedBodyBytes = 1024 * 1024;
    // Stop: all drains together.
    SWaitBounds stopDrain{.nDeadlineMs = 2000, .bShared = true};
    // An accept that would block (its connection went away meanwhile).
    SWaitBounds accept{.nStallMs = 2000};
    // A connection that sends nothing is closed after this long.
    int nIdleClientMs = 30000;
    // The fair share: while other peers wait, one peer address may hold the
    // thread this long in all within any window of this length (head waits,
    // slow sends, drains).
    int nShareMs = 1000;
    int nShareWindowMs = 10000;
    // All peers together, within the same window: without it, ten addresses
    // that stall take the whole thread. Beyond it, waits are short and a send
    // whose peer is not keeping up is soon let go (see CWaitJudge); a download
    // that keeps up goes on.
    int nAllShareMs = 1000;
};
