// The one event loop of the socket layer: an epoll set holding every socket and
// timer, a queue that keeps their events in arrival order, and the nested wait
// of a blocking socket call. It exposes one descriptor, readable whenever
// something is ready to dispatch, so any outer loop (Qt, a plain poll) drives it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// Event kinds, as bits so a registration can arm several.
enum EventKind : unsigned {
    kEventRead = 1u << 0,
    kEventWrite = 1u << 1,
    kEventAccept = 1u << 2,
    kEventClose = 1u << 3,
    kEventTimer = 1u << 4,
};

class CSocketDispatcher;

// Anything with a descriptor in the dispatcher: a socket or a timer. The
// dispatcher keeps its bookkeeping here so no lookup table is needed.
class CEventSink {
public:
    virtual ~CEventSink() = default;
    virtual void OnDispatcherEvent(EventKind kind) = 0;

protected:
    // Data arrived since read was last armed: reported, or set aside unreported.
    bool ReadReported() const { return ((m_nMissed | m_nPending) & kEventRead) != 0; }

private:
    friend class CSocketDispatcher;
    int m_hWatched = -1;         // the descriptor, or -1
    unsigned m_nArmed = 0;       // kinds the sink wants reported
    unsigned m_nPending = 0;     // kinds queued and not yet delivered
    unsigned m_nMissed = 0;      // kinds epoll reported while they were not armed
    uint32_t m_nRegistered = 0;  // epoll events asked for now; 0: not in the set
    uint32_t m_nMuted = 0;  // epoll events reported in vain, not asked for until the next arming
    bool m_bListening = false;  // readable means a connection to accept, not data
    bool m_bStale = false;      // armed for events the set does not hold yet
};

class CSocketDispatcher {
public:
    using Clock = std::chrono::steady_clock;

    // The dispatcher of this process; created by AfxSocketInit.
    static CSocketDispatcher& Get();
    // False, with errno saying why, when the kernel refuses its descriptors.
    static bool Create();

    ~CSocketDispatcher();

    // Readable whenever DispatchReady has work to do.
    int Descriptor() const { return m_hEpoll; }
    // Moves ready events into the queue and delivers those present, one at a time.
    void DispatchReady();
    // Waits up to nTimeoutMs for the descriptor, then dispatches; for plain loops.
    void RunOnce(int nTimeoutMs);

    // Registration and arming: the rule that every other rule of the socket layer
    // relies on, kept in these functions and Classify.
    //  - A kind is reported once, then stays disarmed until armed again (Receive
    //    arms read, Accept arms accept, a blocking call arms what it awaits).
    //  - Arming and disarming are bookkeeping in the sink; the epoll set is
    //    changed only when it must be, so a request answered without waiting
    //    costs no epoll_ctl at all:
    //    * an arming that asks for an epoll event the set does not hold yet
    //      adds it (the set is level-triggered: what is ready is reported);
    //      during a pass (DispatchReady, RunOnce) the addition waits until
    //      epoll is next asked or the pass ends, so a connection served and
    //      closed within the pass never enters the set;
    //    * a disarming leaves the set as it is;
    //    * a report of kinds none of which is armed would come again and again
    //      (level-triggered), so the events it carried are muted: removed from
    //      the set until the next arming of the sink.
    //  - Close removes a descriptor with Forget: closing it leaves the set.
    void Watch(CEventSink& sink, int hDescriptor, unsigned nArmed);
    void Arm(CEventSink& sink, unsigned nKinds);
    void Disarm(CEventSink& sink, unsigned nKinds);
    // Stops all reports and forgets queued events of the sink.
    void Unwatch(CEventSink& sink);
    // The same for a descriptor about to be closed, which leaves the set by itself.
    void Forget(CEventSink& sink);

    // The nested wait of a blocking call: returns true as soon as one of the
    // kinds in nAwaited (or a close) is reported for the sink, false after
    // nTimeoutMs. Every other event is set aside in order; the repaint hook runs
    // after each pass; nothing else is handled.
    bool WaitFor(CEventSink& sink, unsigned nAwaited, int nTimeoutMs);

    void SetRepaintHook(std::function<void()> repaint) { m_repaint = std::move(repaint); }

    // Async-signal-safe, for SIGTERM and SIGINT handlers: every wait ends as if
    // its socket had closed, DispatchReady delivers nothing more, and the outer
    // loop, which asks TerminationRequested between passes, stops.
    static void RequestTermination();
    static bool TerminationRequested();
    // Once the loop that was asked to end has ended, so a later one can run.
    static void ClearTerminationRequest();

    // True while another peer waits for the thread: a read or a connection to
    // accept is queued or set aside for a sink other than this one. Timers
    // are nobody waiting.
    bool OthersWaiting(const CEventSink& sink) const;
    // Queues what epoll holds ready, without delivering anything.
    void TakeInReady() { Poll(0); }

    // The error of a failed epoll_wait (it also requested termination), or 0.
    int PollError() const { return m_nPollError; }

    // Time left until a deadline, rounded up; 0 once it has passed.
    static int MillisecondsUntil(Clock::time_point deadline);

private:
    struct SQueuedEvent {
        CEventSink* pSink;
        EventKind kind;
    };

    CSocketDispatcher(int hEpoll, int hWakeup);
    void Poll(int nTimeoutMs);
    void Deliver();
    void Classify(CEventSink& sink, uint32_t nReported);
    void Queue(CEventSink& sink, EventKind kind);
    void SetInterest(CEventSink& sink, uint32_t nEvents);
    void UpdateStale();
    class CPass;
    static uint32_t EventsFor(unsigned nKinds);
    void SignalWakeup();
    void ClearWakeup();

    int m_hEpoll;
    int m_hWakeup;  // eventfd: set while set-aside events wait for delivery
    bool m_bWakeupSignalled = false;
    std::deque<SQueuedEvent> m_queue;
    std::vector<CEventSink*> m_stale;  // armings not yet made in the set
    int m_nPasses = 0;                 // passes under way (nested: a handler may wait)
    int m_nPollError = 0;
    std::function<void()> m_repaint;
};

// A timer in the dispatcher's epoll set (a timerfd), so its expiry wakes
// whatever loop drives the dispatcher.
class CDispatchTimer : public CEventSink {
public:
    explicit CDispatchTimer(std::function<void()> onExpired);
    ~CDispatchTimer() override;
    CDispatchTimer(const CDispatchTimer&) = delete;
    CDispatchTimer& operator=(const CDispatchTimer&) = delete;

    // Fires after nFirstMs, then every nPeriodMs (0: once).
    void Start(int nFirstMs, int nPeriodMs = 0);
    void Stop();
    bool IsValid() const { return m_hTimer >= 0; }

private:
    void OnDispatcherEvent(EventKind kind) override;

    int m_hTimer;
    std::function<void()> m_onExpired;
};
