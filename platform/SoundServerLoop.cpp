#include "platform/SoundServerLoop.h"

#include <QSocketNotifier>
#include <QTimerEvent>

#include <algorithm>
#include <sys/time.h>

// The library's events. An event freed while its own callback runs goes
// when the callback returns.
struct pa_io_event {
    CSoundServerLoop* pLoop = nullptr;
    int fd = -1;
    pa_io_event_cb_t cb = nullptr;
    void* pUser = nullptr;
    pa_io_event_destroy_cb_t pfnDestroy = nullptr;
    QSocketNotifier* pRead = nullptr;
    QSocketNotifier* pWrite = nullptr;
    int nBusy = 0;
    bool bDead = false;
};

struct pa_time_event {
    CSoundServerLoop* pLoop = nullptr;
    pa_time_event_cb_t cb = nullptr;
    void* pUser = nullptr;
    pa_time_event_destroy_cb_t pfnDestroy = nullptr;
    struct timeval tv {};
    int nTimer = 0;
    int nBusy = 0;
    bool bDead = false;
};

struct pa_defer_event {
    CSoundServerLoop* pLoop = nullptr;
    pa_defer_event_cb_t cb = nullptr;
    void* pUser = nullptr;
    pa_defer_event_destroy_cb_t pfnDestroy = nullptr;
    bool bEnabled = false;
    int nBusy = 0;
    bool bDead = false;
};

namespace {

// Milliseconds from now to the wall-clock time tv, at least 0.
int MillisecondsTo(const struct timeval& tv)
{
    struct timeval now {};
    gettimeofday(&now, nullptr);
    const long long nUs = (long long)(tv.tv_sec - now.tv_sec) * 1000000 + (tv.tv_usec - now.tv_usec);
    return nUs <= 0 ? 0 : int(std::min<long long>((nUs + 999) / 1000, 24LL * 3600 * 1000));
}

void DropNotifiers(pa_io_event* e, bool bLater)
{
    for (QSocketNotifier** pp : {&e->pRead, &e->pWrite}) {
        if (!*pp)
            continue;
        (*pp)->setEnabled(false);
        if (bLater)
            (*pp)->deleteLater();  // it may be the one whose signal is being handled
        else
            delete *pp;
        *pp = nullptr;
    }
}

}  // namespace

CSoundServerLoop::CSoundServerLoop()
{
    m_api.userdata = this;
    m_api.io_new = IoNew;
    m_api.io_enable = IoEnable;
    m_api.io_free = IoFree;
    m_api.io_set_destroy = IoSetDestroy;
    m_api.time_new = TimeNew;
    m_api.time_restart = TimeRestart;
    m_api.time_free = TimeFree;
    m_api.time_set_destroy = TimeSetDestroy;
    m_api.defer_new = DeferNew;
    m_api.defer_enable = DeferEnable;
    m_api.defer_free = DeferFree;
    m_api.defer_set_destroy = DeferSetDestroy;
    m_api.quit = Quit;
}

CSoundServerLoop::~CSoundServerLoop()
{
    for (pa_io_event* e : m_io) {
        DropNotifiers(e, false);
        delete e;
    }
    for (pa_time_event* e : m_time)
        delete e;
    for (pa_defer_event* e : m_defer)
        delete e;
}

template <class Event> void CSoundServerLoop::Forget(std::vector<Event*>& events, Event* e)
{
    events.erase(std::remove(events.begin(), events.end(), e), events.end());
    if (e->nBusy == 0)
        delete e;
}

// Sockets ---------------------------------------------------------------------

pa_io_event* CSoundServerLoop::IoNew(pa_mainloop_api* pApi, int fd, pa_io_event_flags_t events,
                                     pa_io_event_cb_t cb, void* pUser)
{
    CSoundServerLoop* pLoop = Of(pApi);
    auto* e = new pa_io_event;
    e->pLoop = pLoop;
    e->fd = fd;
    e->cb = cb;
    e->pUser = pUser;
    // A closed or broken socket reads as ready: the library finds out why.
    e->pRead = new QSocketNotifier(fd, QSocketNotifier::Read, pLoop);
    e->pWrite = new QSocketNotifier(fd, QSocketNotifier::Write, pLoop);
    QObject::connect(e->pRead, &QSocketNotifier::activated, pLoop, [e] { e->pLoop->OnIo(e, PA_IO_EVENT_INPUT); });
    QObject::connect(e->pWrite, &QSocketNotifier::activated, pLoop, [e] { e->pLoop->OnIo(e, PA_IO_EVENT_OUTPUT); });
    pLoop->m_io.push_back(e);
    IoEnable(e, events);
    return e;
}

void CSoundServerLoop::IoEnable(pa_io_event* e, pa_io_event_flags_t events)
{
    if (e->pRead)
        e->pRead->setEnabled(events & (PA_IO_EVENT_INPUT | PA_IO_EVENT_HANGUP | PA_IO_EVENT_ERROR));
    if (e->pWrite)
        e->pWrite->setEnabled(events & PA_IO_EVENT_OUTPUT);
}

void CSoundServerLoop::IoFree(pa_io_event* e)
{
    if (e->bDead)
        return;
    e->bDead = true;
    DropNotifiers(e, e->nBusy > 0);
    if (e->pfnDestroy)
        e->pfnDestroy(&e->pLoop->m_api, e, e->pUser);
    e->pLoop->Forget(e->pLoop->m_io, e);
}

void CSoundServerLoop::IoSetDestroy(pa_io_event* e, pa_io_event_destroy_cb_t cb)
{
    e->pfnDestroy = cb;
}

void CSoundServerLoop::OnIo(pa_io_event* e, pa_io_event_flags_t what)
{
    if (e->bDead)
        return;
    ++e->nBusy;
    e->cb(&m_api, e, e->fd, what, e->pUser);
    if (--e->nBusy == 0 && e->bDead)
        delete e;
}

// Timers ------------------------------------------------------------------------

pa_time_event* CSoundServerLoop::TimeNew(pa_mainloop_api* pApi, const struct timeval* pTv, pa_time_event_cb_t cb,
                                         void* pUser)
{
    CSoundServerLoop* pLoop = Of(pApi);
    auto* e = new pa_time_event;
    e->pLoop = pLoop;
    e->cb = cb;
    e->pUser = pUser;
    pLoop->m_time.push_back(e);
    TimeRestart(e, pTv);
    return e;
}

void CSoundServerLoop::TimeRestart(pa_time_event* e, const struct timeval* pTv)
{
    if (e->nTimer) {
        e->pLoop->killTimer(e->nTimer);
        e->nTimer = 0;
    }
    if (!pTv || e->bDead)
        return;
    e->tv = *pTv;
    e->nTimer = e->pLoop->startTimer(MillisecondsTo(e->tv), Qt::PreciseTimer);
}

void CSoundServerLoop::TimeFree(pa_time_event* e)
{
    if (e->bDead)
        return;
    TimeRestart(e, nullptr);
    e->bDead = true;
    if (e->pfnDestroy)
        e->pfnDestroy(&e->pLoop->m_api, e, e->pUser);
    e->pLoop->Forget(e->pLoop->m_time, e);
}

void CSoundServerLoop::TimeSetDestroy(pa_time_event* e, pa_time_event_destroy_cb_t cb)
{
    e->pfnDestroy = cb;
}

// Deferred calls: made once each pass of the event loop while enabled ---------

pa_defer_event* CSoundServerLoop::DeferNew(pa_mainloop_api* pApi, pa_defer_event_cb_t cb, void* pUser)
{
    CSoundServerLoop* pLoop = Of(pApi);
    auto* e = new pa_defer_event;
    e->pLoop = pLoop;
    e->cb = cb;
    e->pUser = pUser;
    e->bEnabled = true;
    pLoop->m_defer.push_back(e);
    pLoop->ArmDeferred();
    return e;
}

void CSoundServerLoop::DeferEnable(pa_defer_event* e, int bEnable)
{
    e->bEnabled = bEnable != 0;
    e->pLoop->ArmDeferred();
}

void CSoundServerLoop::DeferFree(pa_defer_event* e)
{
    if (e->bDead)
        return;
    e->bDead = true;
    e->bEnabled = false;
    if (e->pfnDestroy)
        e->pfnDestroy(&e->pLoop->m_api, e, e->pUser);
    CSoundServerLoop* pLoop = e->pLoop;
    pLoop->Forget(pLoop->m_defer, e);
    pLoop->ArmDeferred();
}

void CSoundServerLoop::DeferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t cb)
{
    e->pfnDestroy = cb;
}

void CSoundServerLoop::ArmDeferred()
{
    const bool bAny = std::any_of(m_defer.begin(), m_defer.end(), [](const pa_defer_event* e) { return e->bEnabled; });
    if (bAny && !m_nDeferTimer)
        m_nDeferTimer = startTimer(0);
    else if (!bAny && m_nDeferTimer) {
        killTimer(m_nDeferTimer);
        m_nDeferTimer = 0;
    }
}

void CSoundServerLoop::timerEvent(QTimerEvent* pEvent)
{
    const int nId = pEvent->timerId();
    if (nId == m_nDeferTimer) {
        const std::vector<pa_defer_event*> due = m_defer;
        for (pa_defer_event* e : due)
            ++e->nBusy;
        for (pa_defer_event* e : due) {
            if (e->bEnabled && !e->bDead)
                e->cb(&m_api, e, e->pUser);
        }
        for (pa_defer_event* e : due) {
            if (--e->nBusy == 0 && e->bDead)
                delete e;
        }
        ArmDeferred();
        return;
    }
    const auto it = std::find_if(m_time.begin(), m_time.end(), [nId](const pa_time_event* e) { return e->nTimer == nId; });
    if (it == m_time.end()) {
        killTimer(nId);
        return;
    }
    pa_time_event* e = *it;
    // Once: the library restarts the timer when it wants it again.
    killTimer(e->nTimer);
    e->nTimer = 0;
    const struct timeval tv = e->tv;
    ++e->nBusy;
    e->cb(&m_api, e, &tv, e->pUser);
    if (--e->nBusy == 0 && e->bDead)
        delete e;
}
