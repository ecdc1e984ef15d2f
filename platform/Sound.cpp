// Sound resources and the outputs sndPlaySound hands them to.
#include "platform/Sound.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>

#include <pulse/context.h>
#include <pulse/glib-mainloop.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace {

const QString SOUND_DIR = QStringLiteral(":/sound");

// Resources found so far. Never freed: an image handed to the player stays
// valid for as long as the process runs.
std::map<int, std::unique_ptr<SoundResource>>& Resources()
{
    static auto* s_pResources = new std::map<int, std::unique_ptr<SoundResource>>;
    return *s_pResources;
}

CSoundOutput* g_pOutput = nullptr;

// The resource file of a cue: ":/sound/<id>", or with a ".wav" suffix.
QString SoundPath(int nId)
{
    const QString strBase = SOUND_DIR + u'/' + QString::number(nId);
    if (QFile::exists(strBase))
        return strBase;
    if (QFile::exists(strBase + QStringLiteral(".wav")))
        return strBase + QStringLiteral(".wav");
    return QString();
}

int IdOfImage(const void* pImage)
{
    for (const auto& [nId, pRes] : Resources()) {
        if (pRes->image.constData() == pImage)
            return nId;
    }
    return 0;
}

}  // namespace

HRSRC FindResource(int nId, const char* pszType)
{
    if (!pszType || QByteArray(pszType).compare("sound", Qt::CaseInsensitive) != 0)
        return nullptr;
    auto& resources = Resources();
    if (auto it = resources.find(nId); it != resources.end())
        return it->second.get();
    const QString strPath = SoundPath(nId);
    if (strPath.isEmpty())
        return nullptr;
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    auto pRes = std::make_unique<SoundResource>();
    pRes->nId = nId;
    pRes->image = file.readAll();
    if (pRes->image.isEmpty())
        return nullptr;
    return resources.emplace(nId, std::move(pRes)).first->second.get();
}

HGLOBAL LoadResource(HRSRC hRes)
{
    return hRes;
}

const void* LockResource(HGLOBAL hGlobal)
{
    return hGlobal ? hGlobal->image.constData() : nullptr;
}

BOOL sndPlaySound(const void* pImage, UINT fuSound)
{
    CSoundOutput* pOutput = g_pOutput;
    if (!pImage) {
        if (pOutput)
            pOutput->Stop();
        return TRUE;
    }
    if (!pOutput)
        return FALSE;
    pOutput->Play(IdOfImage(pImage), pImage);
    return TRUE;
}

CSoundOutput* SetSoundOutput(CSoundOutput* pOutput)
{
    return std::exchange(g_pOutput, pOutput);
}

// The sound server's output ------------------------------------------------------

namespace {

// A cue's samples, as its WAVE image has them.
struct Wave {
    pa_sample_spec sampling{};
    const char* pData = nullptr;
    size_t nSize = 0;
};

quint32 Le32(const char* p)
{
    return qFromLittleEndian<quint32>(p);
}

quint16 Le16(const char* p)
{
    return qFromLittleEndian<quint16>(p);
}

// The samples of an in-memory RIFF WAVE image of PCM, 8 or 16 bits.
bool ReadWave(const void* pImage, Wave& wave)
{
    const char* p = static_cast<const char*>(pImage);
    if (!p || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0)
        return false;
    const size_t nEnd = 8 + size_t(Le32(p + 4));
    bool bFormat = false;
    for (size_t nAt = 12; nAt + 8 <= nEnd;) {
        const size_t nChunk = Le32(p + nAt + 4);
        const char* pBody = p + nAt + 8;
        if (nAt + 8 + nChunk > nEnd)
            return false;
        if (std::memcmp(p + nAt, "fmt ", 4) == 0 && nChunk >= 16) {
            const quint16 nTag = Le16(pBody), nChannels = Le16(pBody + 2), nBits = Le16(pBody + 14);
            if (nTag != 1 || (nBits != 8 && nBits != 16) || nChannels == 0)
                return false;
            wave.sampling.format = nBits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
            wave.sampling.channels = quint8(nChannels);
            wave.sampling.rate = Le32(pBody + 4);
            bFormat = pa_sample_spec_valid(&wave.sampling) != 0;
        } else if (std::memcmp(p + nAt, "data", 4) == 0 && bFormat) {
            const size_t nFrame = pa_frame_size(&wave.sampling);
            wave.pData = pBody;
            wave.nSize = nChunk / nFrame * nFrame;
            return wave.nSize > 0;
        }
        nAt += 8 + nChunk + (nChunk & 1);
    }
    return false;
}

// A cue asked for while the output was still connecting plays once it is
// connected, if that is soon; later it would come too late to mean anything.
constexpr qint64 PENDING_MS = 1000;
// While there is no server, the output looks for one this often, so that one
// that comes is there for the next cue.
constexpr pa_usec_t RETRY_US = 2000 * PA_USEC_PER_MSEC;
// A connection that takes longer than this is given up at the next cue.
constexpr qint64 CONNECTING_MS = 3000;

// Held while this thread calls the library, where the library's loop runs
// on a thread of its own.
struct LoopLock {
    explicit LoopLock(pa_threaded_mainloop* p) : pLoop(p)
    {
        if (pLoop)
            pa_threaded_mainloop_lock(pLoop);
    }
    ~LoopLock()
    {
        if (pLoop)
            pa_threaded_mainloop_unlock(pLoop);
    }
    pa_threaded_mainloop* const pLoop;
};

}  // namespace

struct CServerSoundOutput::Impl {
    // One of the two runs the library's events.
    pa_glib_mainloop* pGlibLoop = nullptr;
    pa_threaded_mainloop* pThreadedLoop = nullptr;
    pa_mainloop_api* pApi = nullptr;
    pa_time_event* pRetry = nullptr;  // on only while there is no server
    pa_context* pContext = nullptr;
    QElapsedTimer connecting;
    pa_stream* pStream = nullptr;  // the cue that plays
    Wave playing;
    size_t nWritten = 0;
    bool bPending = false;
    Wave pending;
    QElapsedTimer pendingSince;
    // Let go of in their own callbacks, freed outside them.
    std::vector<pa_stream*> oldStreams;
    std::vector<pa_context*> oldContexts;

    void Connect();
    void Start(const Wave& wave);
    void StopStream();
    void FreeOld();
    void RetrySoon();

    static void OnRetry(pa_mainloop_api* pApi, pa_time_event* pEvent, const struct timeval* pTv, void* pData);
    static void OnContextState(pa_context* pContext, void* pData);
    static void OnStreamState(pa_stream* pStream, void* pData);
    static void OnWrite(pa_stream* pStream, size_t nBytes, void* pData);
    static void OnDrained(pa_stream* pStream, int bSuccess, void* pData);
};

void CServerSoundOutput::Impl::Connect()
{
    if (pContext) {
        pa_context_set_state_callback(pContext, nullptr, nullptr);
        pa_context_disconnect(pContext);
        oldContexts.push_back(pContext);
        pContext = nullptr;
    }
    const QByteArray name = QCoreApplication::applicationName().toUtf8();
    pContext = pa_context_new(pApi, name.isEmpty() ? "sound cues" : name.constData());
    if (!pContext)
        return;
    pa_context_set_state_callback(pContext, OnContextState, this);
    connecting.start();
    // Only a server that is there: none is ever started for the game.
    pa_context_connect(pContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
}

void CServerSoundOutput::Impl::Start(const Wave& wave)
{
    pStream = pa_stream_new(pContext, "cue", &wave.sampling, nullptr);
    if (!pStream)
        return;
    playing = wave;
    nWritten = 0;
    pa_stream_set_state_callback(pStream, OnStreamState, this);
    pa_stream_set_write_callback(pStream, OnWrite, this);
    if (pa_stream_connect_playback(pStream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr) < 0)
        StopStream();
}

void CServerSoundOutput::Impl::StopStream()
{
    if (!pStream)
        return;
    pa_stream_set_state_callback(pStream, nullptr, nullptr);
    pa_stream_set_write_callback(pStream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(pStream)))
        pa_stream_disconnect(pStream);
    oldStreams.push_back(pStream);
    pStream = nullptr;
}

void CServerSoundOutput::Impl::FreeOld()
{
    for (pa_stream* p : oldStreams)
        pa_stream_unref(p);
    oldStreams.clear();
    for (pa_context* p : oldContexts)
        pa_context_unref(p);
    oldContexts.clear();
}

void CServerSoundOutput::Impl::RetrySoon()
{
    struct timeval tv {};
    pApi->time_restart(pRetry, pa_timeval_add(pa_gettimeofday(&tv), RETRY_US));
}

void CServerSoundOutput::Impl::OnRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* pData)
{
    auto* pImpl = static_cast<Impl*>(pData);
    pImpl->FreeOld();
    if (!pImpl->pContext || !PA_CONTEXT_IS_GOOD(pa_context_get_state(pImpl->pContext)))
        pImpl->Connect();
}

void CServerSoundOutput::Impl::OnContextState(pa_context* pContext, void* pData)
{
    auto* pImpl = static_cast<Impl*>(pData);
    if (pContext != pImpl->pContext)
        return;
    const pa_context_state_t state = pa_context_get_state(pContext);
    if (state == PA_CONTEXT_READY) {
        if (pImpl->bPending && pImpl->pendingSince.elapsed() < PENDING_MS)
            pImpl->Start(pImpl->pending);
        pImpl->bPending = false;
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        // The server went, or was never there: looked for again soon, and
        // at the next cue.
        pImpl->bPending = false;
        pImpl->StopStream();
        pImpl->RetrySoon();
    }
}

void CServerSoundOutput::Impl::OnStreamState(pa_stream* pStream, void* pData)
{
    auto* pImpl = static_cast<Impl*>(pData);
    if (pStream == pImpl->pStream && !PA_STREAM_IS_GOOD(pa_stream_get_state(pStream)))
        pImpl->StopStream();
}

void CServerSoundOutput::Impl::OnWrite(pa_stream* pStream, size_t nBytes, void* pData)
{
    auto* pImpl = static_cast<Impl*>(pData);
    if (pStream != pImpl->pStream)
        return;
    const size_t nLeft = pImpl->playing.nSize - pImpl->nWritten;
    const size_t nNow = std::min(nBytes, nLeft);
    // The samples are copied: the image stays the program's.
    if (nNow > 0 && pa_stream_write(pStream, pImpl->playing.pData + pImpl->nWritten, nNow, nullptr, 0,
                                    PA_SEEK_RELATIVE) == 0)
        pImpl->nWritten += nNow;
    if (pImpl->nWritten < pImpl->playing.nSize)
        return;
    // All written: play out what the server holds, then let the stream go.
    pa_stream_set_write_callback(pStream, nullptr, nullptr);
    if (pa_operation* pOp = pa_stream_drain(pStream, OnDrained, pImpl))
        pa_operation_unref(pOp);
}

void CServerSoundOutput::Impl::OnDrained(pa_stream* pStream, int /*bSuccess*/, void* pData)
{
    auto* pImpl = static_cast<Impl*>(pData);
    if (pStream == pImpl->pStream)
        pImpl->StopStream();
}

CServerSoundOutput::CServerSoundOutput() : m_pImpl(new Impl)
{
    // The library's GLib loop runs on GLib's default context, which Qt's
    // usual event dispatcher iterates on the application's thread, where the
    // output is made: the server's messages then come between Qt's events,
    // on this thread, with no lock. Another dispatcher (QT_NO_GLIB=1 gives a
    // plain Unix one) never iterates that context, and the cues would stay
    // silent; there, and with no event loop at all, the library runs its
    // threaded loop on a thread of its own, and this thread takes the loop's
    // lock whenever it calls the library.
    const QAbstractEventDispatcher* pDispatcher = QAbstractEventDispatcher::instance();
    if (pDispatcher && pDispatcher->inherits("QEventDispatcherGlib")) {
        m_pImpl->pGlibLoop = pa_glib_mainloop_new(nullptr);
        m_pImpl->pApi = pa_glib_mainloop_get_api(m_pImpl->pGlibLoop);
    } else {
        m_pImpl->pThreadedLoop = pa_threaded_mainloop_new();
        m_pImpl->pApi = pa_threaded_mainloop_get_api(m_pImpl->pThreadedLoop);
        pa_threaded_mainloop_start(m_pImpl->pThreadedLoop);
    }
    LoopLock lock(m_pImpl->pThreadedLoop);
    m_pImpl->pRetry = m_pImpl->pApi->time_new(m_pImpl->pApi, nullptr, Impl::OnRetry, m_pImpl);
    // Connected now, so the first cue plays at once where a server is there.
    m_pImpl->Connect();
}

CServerSoundOutput::~CServerSoundOutput()
{
    // With the loop's thread gone, the library is this thread's alone.
    if (m_pImpl->pThreadedLoop)
        pa_threaded_mainloop_stop(m_pImpl->pThreadedLoop);
    m_pImpl->pApi->time_free(m_pImpl->pRetry);
    m_pImpl->StopStream();
    if (m_pImpl->pContext) {
        pa_context_set_state_callback(m_pImpl->pContext, nullptr, nullptr);
        pa_context_disconnect(m_pImpl->pContext);
        m_pImpl->oldContexts.push_back(m_pImpl->pContext);
        m_pImpl->pContext = nullptr;
    }
    m_pImpl->FreeOld();
    // The loop last, once nothing of the library's is left.
    if (m_pImpl->pGlibLoop)
        pa_glib_mainloop_free(m_pImpl->pGlibLoop);
    if (m_pImpl->pThreadedLoop)
        pa_threaded_mainloop_free(m_pImpl->pThreadedLoop);
    delete m_pImpl;
}

void CServerSoundOutput::Play(int /*nId*/, const void* pImage)
{
    LoopLock lock(m_pImpl->pThreadedLoop);
    // A new cue replaces the one still playing.
    m_pImpl->StopStream();
    m_pImpl->bPending = false;
    m_pImpl->FreeOld();
    Wave wave;
    if (!ReadWave(pImage, wave))
        return;
    const pa_context_state_t state =
        m_pImpl->pContext ? pa_context_get_state(m_pImpl->pContext) : PA_CONTEXT_FAILED;
    if (state == PA_CONTEXT_READY) {
        m_pImpl->Start(wave);
        return;
    }
    // Not connected: the cue waits for the connection, and the game waits
    // for nothing.
    m_pImpl->pending = wave;
    m_pImpl->bPending = true;
    m_pImpl->pendingSince.start();
    if (!PA_CONTEXT_IS_GOOD(state) || m_pImpl->connecting.elapsed() > CONNECTING_MS)
        m_pImpl->Connect();
}

void CServerSoundOutput::Stop()
{
    LoopLock lock(m_pImpl->pThreadedLoop);
    m_pImpl->StopStream();
    m_pImpl->bPending = false;
}

bool CServerSoundOutput::Connected() const
{
    LoopLock lock(m_pImpl->pThreadedLoop);
    return m_pImpl->pContext && pa_context_get_state(m_pImpl->pContext) == PA_CONTEXT_READY;
}
