#include "SocketDispatcher.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "Milliseconds.h"

namespace {
std::unique_ptr<CSocketDispatcher> g_pDispatcher;
// Read by signal handlers: a flag and the descriptor that wakes every wait.
volatile sig_atomic_t g_bTerminationRequested = 0;
volatile sig_atomic_t g_hSignalWakeup = -1;

// A failed Create closes what it made; its caller reports the errno of the
// failure, which a close must not replace.
bool FailClosing(std::initializer_list<int> handles) {
    const int nError = errno;
    for (int hHandle : handles) {
        ::close(hHandle);
    }
    errno = nError;
    return false;
}
}  // namespace

void CSocketDispatcher::RequestTermination() {
    const int nSavedErrno = errno;
    g_bTerminationRequested = 1;
    if (g_hSignalWakeup >= 0) {
        // The wake-up descriptor is in the epoll set: whichever wait runs, or
        // is about to start, returns at once.
        const uint64_t nOne = 1;
        [[maybe_unused]] ssize_t n = ::write(g_hSignalWakeup, &nOne, sizeof nOne);
    }
    errno = nSavedErrno;
}

bool CSocketDispatcher::TerminationRequested() {
    return g_bTerminationRequested != 0;
}

void CSocketDispatcher::ClearTerminationRequest() {
    g_bTerminationRequested = 0;
}

bool CSocketDispatcher::OthersWaiting(const CEventSink& sink) const {
    return std::any_of(m_queue.begin(), m_queue.end(), [&sink](const SQueuedEvent& e) {
        return e.pSink != &sink && (e.kind & (kEventRead | kEventAccept)) != 0;
    });
}

int CSocketDispatcher::MillisecondsUntil(Clock::time_point deadline) {
    return MillisecondsBetween(Clock::now(), deadline);
}

bool CSocketDispatcher::Create() {
    if (g_pDispatcher) {
        return true;
    }
    int hEpoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (hEpoll < 0) {
        return false;
    }
    // A send to a peer that has gone must fail with EPIPE, not end the process
    // (sendfile has no MSG_NOSIGNAL).
    std::signal(SIGPIPE, SIG_IGN);
    int hWakeup = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (hWakeup < 0) {
        return FailClosing({hEpoll});
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr;  // the wake-up descriptor is the only entry without a sink
    if (::epoll_ctl(hEpoll, EPOLL_CTL_ADD, hWakeup, &event) != 0) {
        return FailClosing({hWakeup, hEpoll});
    }
    g_pDispatcher.reset(new CSocketDispatcher(hEpoll, hWakeup));
    g_hSignalWakeup = hWakeup;
    return true;
}

CSocketDispatcher& CSocketDispatcher::Get() {
    // Sockets and timers are only ever made after AfxSocketInit; creating the
    // dispatcher here as well covers a forgotten init. When even that fails no
    // socket can work, and none could report it: say why and end here.
    if (!g_pDispatcher && !Create()) {
        std::fprintf(stderr, "The socket layer cannot start: %s\n", std::strerror(errno));
        std::abort();
    }
    return *g_pDispatcher;
}

CSocketDispatcher::CSocketDispatcher(int hEpoll, int hWakeup)
    : m_hEpoll(hEpoll), m_hWakeup(hWakeup) {}

CSocketDispatcher::~CSocketDispatcher() {
    g_hSignalWakeup = -1;
    ::close(m_hWakeup);
    ::close(m_hEpoll);
}

uint32_t CSocketDispatcher::EventsFor(unsigned nKinds) {
    uint32_t nEvents = 0;
    if (nKinds & (kEventRead | kEventAccept | kEventTimer)) {
        nEvents |= EPOLLIN;
    }
    if (nKinds & kEventClose) {
        // A peer's close shows apart from its data, so plain data needs no FIONREAD.
        nEvents |= EPOLLRDHUP;
    }
    if (nKinds & kEventWrite) {
        nEvents |= EPOLLOUT;
    }
    return nEvents;
}

void CSocketDispatcher::SetInterest(CEventSink& sink, uint32_t nEvents) {
    if (nEvents == sink.m_nRegistered) {
        return;
    }
    if (nEvents == 0) {
        // Hang-up and error are reported whatever the interest: a sink that
        // wants nothing leaves the set.
        ::epoll_ctl(m_hEpoll, EPOLL_CTL_DEL, sink.m_hWatched, nullptr);
        sink.m_nRegistered = 0;
        return;
    }
    epoll_event event{};
    event.events = nEvents;
    event.data.ptr = &sink;
    const int nOperation = sink.m_nRegistered != 0 ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (::epoll_ctl(m_hEpoll, nOperation, sink.m_hWatched, &event) == 0) {
        sink.m_nRegistered = nEvents;
    }
}

void CSocketDispatcher::Watch(CEventSink& sink, int hDescriptor, unsigned nArmed) {
    Unwatch(sink);
    sink.m_hWatched = hDescriptor;
    Arm(sink, nArmed);
}

void CSocketDispatcher::Arm(CEventSink& sink, unsigned nKinds) {
    if (sink.m_hWatched < 0) {
        return;
    }
    sink.m_nArmed |= nKinds;
    sink.m_bListening |= (nKinds & kEventAccept) != 0;
    sink.m_nMissed &= ~nKinds;
    sink.m_nMuted = 0;
    if ((EventsFor(sink.m_nArmed) & ~sink.m_nRegistered) != 0 && !sink.m_bStale) {
        sink.m_bStale = true;
        m_stale.push_back(&sink);
        if (m_nPasses == 0) {
            UpdateStale();  // no pass will end to do it: an outer loop may wait next
        }
    }
}

void CSocketDispatcher::UpdateStale() {
    for (CEventSink* pSink : m_stale) {
        pSink->m_bStale = false;
        const uint32_t nWanted = EventsFor(pSink->m_nArmed) & ~pSink->m_nMuted;
        if ((nWanted & ~pSink->m_nRegistered) != 0) {
            SetInterest(*pSink, nWanted);
        }
    }
    m_stale.clear();
}

void CSocketDispatcher::Disarm(CEventSink& sink, unsigned nKinds) {
    sink.m_nArmed &= ~nKinds;  // the set keeps its events until a report comes in vain
}

void CSocketDispatcher::Forget(CEventSink& sink) {
    sink.m_nRegistered = 0;
    Unwatch(sink);
}

void CSocketDispatcher::Unwatch(CEventSink& sink) {
    SetInterest(sink, 0);
    sink.m_hWatched = -1;
    sink.m_nArmed = 0;
    sink.m_nMissed = 0;
    sink.m_nMuted = 0;
    sink.m_bListening = false;
    if (sink.m_bStale) {
        std::erase(m_stale, &sink);
        sink.m_bStale = false;
    }
    if (sink.m_nPending != 0) {
        std::erase_if(m_queue, [&sink](const SQueuedEvent& e) { return e.pSink == &sink; });
        sink.m_nPending = 0;
    }
}

void CSocketDispatcher::Queue(CEventSink& sink, EventKind kind) {
    if (sink.m_nPending & kind) {
        return;
    }
    sink.m_nPending |= kind;
    m_queue.push_back({&sink, kind});
}

// Turns one epoll report into the kinds it means, queues those that are armed
// and disarms them. A report that meant nothing armed mutes the events it
// carried, or level-triggered epoll would report them at every poll.
void CSocketDispatcher::Classify(CEventSink& sink, uint32_t nReported) {
    const unsigned nArmed = sink.m_nArmed;
    if (nArmed & kEventTimer) {
        uint64_t nExpirations = 0;
        if (::read(sink.m_hWatched, &nExpirations, sizeof nExpirations) > 0) {
            Queue(sink, kEventTimer);  // timers stay armed until stopped
        }
        return;
    }
    unsigned nReady = 0;
    if (nReported & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
        nReady |= kEventWrite;
    }
    if (sink.m_bListening) {
        if (nReported & (EPOLLIN | EPOLLERR | EPOLLHUP)) {
            nReady |= kEventAccept;
        }
    } else if (nReported & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        int nAvailable = 0;
        if (::ioctl(sink.m_hWatched, FIONREAD, &nAvailable) != 0) {
            nAvailable = 0;
        }
        // Readable with nothing to read: the peer has closed (or reset). A
        // read would return at once; the close answers an armed read too.
        nReady |= nAvailable > 0 ? kEventRead : (kEventClose | kEventRead);
    } else if (nReported & EPOLLIN) {
        nReady |= kEventRead;
    }

    unsigned nReport = nReady & nArmed;
    if (nReport & kEventClose) {
        nReport &= ~kEventRead;
        sink.m_nArmed &= ~kEventRead;
    }
    sink.m_nMissed |= nReady & ~nArmed;
    if (nReport == 0) {
        sink.m_nMuted |= nReported & (EPOLLIN | EPOLLOUT | EPOLLRDHUP);
        if (nReported & (EPOLLERR | EPOLLHUP)) {
            sink.m_nMuted = ~uint32_t{0};  // reported whatever the interest: leave the set
        }
        SetInterest(sink, EventsFor(sink.m_nArmed) & ~sink.m_nMuted);
        return;
    }
    for (EventKind kind : {kEventAccept, kEventWrite, kEventRead, kEventClose}) {
        if (nReport & kind) {
            sink.m_nArmed &= ~kind;
            Queue(sink, kind);
        }
    }
}

void CSocketDispatcher::Poll(int nTimeoutMs) {
    UpdateStale();
    epoll_event events[64];
    int nReady = ::epoll_wait(m_hEpoll, events, 64, nTimeoutMs);
    if (nReady < 0 && errno != EINTR && m_nPollError == 0) {
        // The set is broken (it cannot fail otherwise): every wait would end
        // at once, the loops would spin and serve nothing. Said, and ended as
        // a termination request ends them.
        m_nPollError = errno;
        std::fprintf(stderr, "Waiting for socket events failed: %s\n", std::strerror(m_nPollError));
        RequestTermination();
    }
    for (int i = 0; i < nReady; ++i) {
        auto* pSink = static_cast<CEventSink*>(events[i].data.ptr);
        if (pSink == nullptr) {
            ClearWakeup();  // the wake-up descriptor: the queue is looked at anyway
            continue;
        }
        Classify(*pSink, events[i].events);
    }
}

void CSocketDispatcher::SignalWakeup() {
    if (m_bWakeupSignalled) {
        return;
    }
    m_bWakeupSignalled = true;
    uint64_t nOne = 1;
    [[maybe_unused]] ssize_t n = ::write(m_hWakeup, &nOne, sizeof nOne);
}

void CSocketDispatcher::ClearWakeup() {
    if (!m_bWakeupSignalled && !g_bTerminationRequested) {
        return;  // saves a system call on every dispatch
    }
    m_bWakeupSignalled = false;
    uint64_t nCount = 0;
    [[maybe_unused]] ssize_t n = ::read(m_hWakeup, &nCount, sizeof nCount);
}

// A pass: armings made while it runs reach the set when it ends, or earlier
// when a handler's wait asks epoll.
class CSocketDispatcher::CPass {
public:
    explicit CPass(CSocketDispatcher& dispatcher) : m_dispatcher(dispatcher) {
        ++m_dispatcher.m_nPasses;
    }
    ~CPass() {
        if (--m_dispatcher.m_nPasses == 0) {
            m_dispatcher.UpdateStale();
        }
    }
    CPass(const CPass&) = delete;
    CPass& operator=(const CPass&) = delete;

private:
    CSocketDispatcher& m_dispatcher;
};

void CSocketDispatcher::DispatchReady() {
    CPass pass(*this);
    ClearWakeup();
    Poll(0);
    Deliver();
}

void CSocketDispatcher::Deliver() {
    // Deliver only what was there when we started; events set aside meanwhile
    // go out on the next call, which the wake-up descriptor asks for. A stop
    // request is looked at between any two events.
    for (size_t nToDeliver = m_queue.size();
         nToDeliver > 0 && !m_queue.empty() && !g_bTerminationRequested; --nToDeliver) {
        SQueuedEvent event = m_queue.front();
        m_queue.pop_front();
        event.pSink->m_nPending &= ~event.kind;
        event.pSink->OnDispatcherEvent(event.kind);
    }
    if (!m_queue.empty() && !g_bTerminationRequested) {
        SignalWakeup();
    }
}

void CSocketDispatcher::RunOnce(int nTimeoutMs) {
    // A loop of its own waits in epoll itself: no poll of the epoll descriptor first.
    CPass pass(*this);
    Poll(m_queue.empty() ? nTimeoutMs : 0);
    Deliver();
}

bool CSocketDispatcher::WaitFor(CEventSink& sink, unsigned nAwaited, int nTimeoutMs) {
    // A wake-up left by an earlier wait would end every epoll_wait at once;
    // the queue it stands for is looked at here anyway, and signalled again below.
    ClearWakeup();
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    const unsigned nEnding = nAwaited | kEventClose;
    bool bWoken = false;
    while (!g_bTerminationRequested) {
        auto it = std::find_if(m_queue.begin(), m_queue.end(), [&](const SQueuedEvent& e) {
            return e.pSink == &sink && (e.kind & nEnding) != 0;
        });
        if (it != m_queue.end()) {
            sink.m_nPending &= ~it->kind;
            m_queue.erase(it);
            bWoken = true;
            break;
        }
        int nRemaining = MillisecondsUntil(deadline);
        if (nRemaining == 0) {
            break;
        }
        Poll(nRemaining);
        if (m_repaint) {
            m_repaint();
        }
    }
    if (!m_queue.empty() && !g_bTerminationRequested) {
        SignalWakeup();
    }
    return bWoken;
}

CDispatchTimer::CDispatchTimer(std::function<void()> onExpired)
    : m_hTimer(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      m_onExpired(std::move(onExpired)) {}

CDispatchTimer::~CDispatchTimer() {
    if (m_hTimer >= 0) {
        CSocketDispatcher::Get().Unwatch(*this);
        ::close(m_hTimer);
    }
}

void CDispatchTimer::Start(int nFirstMs, int nPeriodMs) {
    if (m_hTimer < 0) {
        return;
    }
    auto toTimespec = [](int nMs) {
        return timespec{nMs / 1000, static_cast<long>(nMs % 1000) * 1000000L};
    };
    itimerspec setting{toTimespec(nPeriodMs), toTimespec(std::max(1, nFirstMs))};
    ::timerfd_settime(m_hTimer, 0, &setting, nullptr);
    CSocketDispatcher::Get().Watch(*this, m_hTimer, kEventTimer);
}

void CDispatchTimer::Stop() {
    if (m_hTimer < 0) {
        return;
    }
    itimerspec setting{};
    ::timerfd_settime(m_hTimer, 0, &setting, nullptr);
    CSocketDispatcher::Get().Unwatch(*this);
}

void CDispatchTimer::OnDispatcherEvent(EventKind kind) {
    if (kind == kEventTimer && m_onExpired) {
        m_onExpired();
    }
}
