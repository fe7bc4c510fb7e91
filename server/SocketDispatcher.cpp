#include "SocketDispatcher.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>

namespace {
std::unique_ptr<CSocketDispatcher> g_pDispatcher;
// Read by signal handlers: a flag and the descriptor that wakes every wait.
volatile sig_atomic_t g_bTerminationRequested = 0;
volatile sig_atomic_t g_hSignalWakeup = -1;
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
    auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, remaining.count()));
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
        ::close(hEpoll);
        return false;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr;  // the wake-up descriptor is the only entry without a sink
    if (::epoll_ctl(hEpoll, EPOLL_CTL_ADD, hWakeup, &event) != 0) {
        ::close(hWakeup);
        ::close(hEpoll);
        return false;
    }
    g_pDispatcher.reset(new CSocketDispatcher(hEpoll, hWakeup));
    g_hSignalWakeup = hWakeup;
    return true;
}

CSocketDispatcher& CSocketDispatcher::Get() {
    // Sockets and timers are only ever made after AfxSocketInit; creating the
    // dispatcher here as well keeps a forgotten init from crashing.
    if (!g_pDispatcher) {
        Create();
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

void CSocketDispatcher::Watch(CEventSink& sink, int hDescriptor, unsigned nArmed) {
    Unwatch(sink);
    sink.m_hWatched = hDescriptor;
    sink.m_nArmed = nArmed;
    UpdateInterest(sink);
}

void CSocketDispatcher::Arm(CEventSink& sink, unsigned nKinds) {
    if (sink.m_hWatched < 0 || (sink.m_nArmed & nKinds) == nKinds) {
        return;
    }
    sink.m_nArmed |= nKinds;
    UpdateInterest(sink);
}

void CSocketDispatcher::Disarm(CEventSink& sink, unsigned nKinds) {
    if (sink.m_hWatched < 0 || (sink.m_nArmed & nKinds) == 0) {
        return;
    }
    sink.m_nArmed &= ~nKinds;
    UpdateInterest(sink);
}

void CSocketDispatcher::Unwatch(CEventSink& sink) {
    if (sink.m_bInEpoll) {
        ::epoll_ctl(m_hEpoll, EPOLL_CTL_DEL, sink.m_hWatched, nullptr);
        sink.m_bInEpoll = false;
    }
    sink.m_hWatched = -1;
    sink.m_nArmed = 0;
    if (sink.m_nPending != 0) {
        std::erase_if(m_queue, [&sink](const SQueuedEvent& e) { return e.pSink == &sink; });
        sink.m_nPending = 0;
    }
}

void CSocketDispatcher::UpdateInterest(CEventSink& sink) {
    uint32_t nEvents = 0;
    if (sink.m_nArmed & (kEventRead | kEventAccept | kEventTimer)) {
        nEvents |= EPOLLIN;
    }
    if (sink.m_nArmed & kEventWrite) {
        nEvents |= EPOLLOUT;
    }
    // No EPOLLRDHUP: with read armed, a peer's close already shows as readable
    // with nothing to read; with read queued it would report the same unread
    // bytes again and again. Hang-up and error are reported whatever the interest, so a sink that
    // wants nothing leaves the set entirely rather than being woken for nothing.
    if (nEvents == 0) {
        if (sink.m_bInEpoll) {
            ::epoll_ctl(m_hEpoll, EPOLL_CTL_DEL, sink.m_hWatched, nullptr);
            sink.m_bInEpoll = false;
        }
        return;
    }
    epoll_event event{};
    event.events = nEvents;
    event.data.ptr = &sink;
    int nOperation = sink.m_bInEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (::epoll_ctl(m_hEpoll, nOperation, sink.m_hWatched, &event) == 0) {
        sink.m_bInEpoll = true;
    }
}

void CSocketDispatcher::Queue(CEventSink& sink, EventKind kind) {
    if (sink.m_nPending & kind) {
        return;
    }
    sink.m_nPending |= kind;
    m_queue.push_back({&sink, kind});
}

// Turns one epoll report into at most one queued event and disarms what it
// reported, so the descriptor stays quiet until the sink asks again.
void CSocketDispatcher::Classify(CEventSink& sink, uint32_t nReported) {
    unsigned nArmed = sink.m_nArmed;
    if (nArmed & kEventTimer) {
        uint64_t nExpirations = 0;
        if (::read(sink.m_hWatched, &nExpirations, sizeof nExpirations) > 0) {
            Queue(sink, kEventTimer);
        }
        return;
    }
    if ((nArmed & kEventAccept) && (nReported & EPOLLIN)) {
        Disarm(sink, kEventAccept);
        Queue(sink, kEventAccept);
        return;
    }
    if ((nArmed & kEventWrite) && (nReported & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
        Disarm(sink, kEventWrite);
        Queue(sink, kEventWrite);
    }
    if (nReported & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        int nAvailable = 0;
        if (::ioctl(sink.m_hWatched, FIONREAD, &nAvailable) != 0) {
            nAvailable = 0;
        }
        if (nAvailable > 0 && (nArmed & kEventRead)) {
            Disarm(sink, kEventRead);
            Queue(sink, kEventRead);
        } else if (nAvailable == 0) {
            // Readable with nothing to read: the peer has closed (or reset). A
            // read would return at once, so only the close is worth reporting.
            Disarm(sink, kEventRead | kEventClose);
            if (nArmed & kEventClose) {
                Queue(sink, kEventClose);
            }
        }
    }
}

void CSocketDispatcher::Poll(int nTimeoutMs) {
    epoll_event events[64];
    int nReady = ::epoll_wait(m_hEpoll, events, 64, nTimeoutMs);
    for (int i = 0; i < nReady; ++i) {
        auto* pSink = static_cast<CEventSink*>(events[i].data.ptr);
        if (pSink == nullptr) {
            continue;  // the wake-up descriptor: cleared by DispatchReady
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

void CSocketDispatcher::DispatchReady() {
    ClearWakeup();
    Poll(0);
    // Deliver only what was there when we started; events set aside meanwhile
    // go out on the next call, which the wake-up descriptor asks for.
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
    pollfd descriptor{m_hEpoll, POLLIN, 0};
    ::poll(&descriptor, 1, nTimeoutMs);
    DispatchReady();
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
