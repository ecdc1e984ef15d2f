// The sound server library's main loop, run by Qt's event loop on the
// user-interface thread: its sockets are socket notifiers, its timers and
// deferred calls Qt timers. The library's callbacks come on this thread,
// between other events, so nothing needs a lock.
#pragma once

#include <QObject>

#include <pulse/mainloop-api.h>

#include <vector>

class CSoundServerLoop : public QObject {
public:
    CSoundServerLoop();
    CSoundServerLoop(const CSoundServerLoop&) = delete;
    CSoundServerLoop& operator=(const CSoundServerLoop&) = delete;
    // Events the library has not freed go without their callbacks.
    ~CSoundServerLoop() override;

    pa_mainloop_api* Api() { return &m_api; }

protected:
    void timerEvent(QTimerEvent* pEvent) override;

private:
    static pa_io_event* IoNew(pa_mainloop_api* pApi, int fd, pa_io_event_flags_t events, pa_io_event_cb_t cb,
                              void* pUser);
    static void IoEnable(pa_io_event* e, pa_io_event_flags_t events);
    static void IoFree(pa_io_event* e);
    static void IoSetDestroy(pa_io_event* e, pa_io_event_destroy_cb_t cb);
    static pa_time_event* TimeNew(pa_mainloop_api* pApi, const struct timeval* pTv, pa_time_event_cb_t cb,
                                  void* pUser);
    static void TimeRestart(pa_time_event* e, const struct timeval* pTv);
    static void TimeFree(pa_time_event* e);
    static void TimeSetDestroy(pa_time_event* e, pa_time_event_destroy_cb_t cb);
    static pa_defer_event* DeferNew(pa_mainloop_api* pApi, pa_defer_event_cb_t cb, void* pUser);
    static void DeferEnable(pa_defer_event* e, int bEnable);
    static void DeferFree(pa_defer_event* e);
    static void DeferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t cb);
    static void Quit(pa_mainloop_api* pApi, int nResult) {}

    static CSoundServerLoop* Of(pa_mainloop_api* pApi) { return static_cast<CSoundServerLoop*>(pApi->userdata); }
    void OnIo(pa_io_event* e, pa_io_event_flags_t what);
    void ArmDeferred();
    template <class Event> void Forget(std::vector<Event*>& events, Event* e);

    pa_mainloop_api m_api{};
    std::vector<pa_io_event*> m_io;
    std::vector<pa_time_event*> m_time;
    std::vector<pa_defer_event*> m_defer;
    int m_nDeferTimer = 0;
};
