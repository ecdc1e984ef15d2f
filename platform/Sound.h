// Embedded sound resources and asynchronous playback.
//
// The cues are WAVE images compiled in as Qt resources under ":/sound/<id>".
// sndPlaySound hands an image to the current output and returns at once; a new
// cue replaces one still playing. With no output, or no sound server, nothing
// plays and nothing complains.
#pragma once

#include "platform/WinTypes.h"

#include <QByteArray>

constexpr UINT SND_ASYNC = 0x0001;
constexpr UINT SND_NODEFAULT = 0x0002;
constexpr UINT SND_MEMORY = 0x0004;

struct SoundResource {
    int nId = 0;
    QByteArray image;
};
using HRSRC = const SoundResource*;
using HGLOBAL = const SoundResource*;

// Resource lookup by integer id within the custom type ("sound"); nullptr
// when the program has no such resource. A resource found stays loaded, at
// the same address, until the process ends.
HRSRC FindResource(int nId, const char* pszType);
HGLOBAL LoadResource(HRSRC hRes);
const void* LockResource(HGLOBAL hGlobal);

BOOL sndPlaySound(const void* pImage, UINT fuSound);

// Where sndPlaySound sends an image.
class CSoundOutput {
public:
    virtual ~CSoundOutput() = default;
    // nId is the resource the image came from, 0 if it is no known resource.
    virtual void Play(int nId, const void* pImage) = 0;
    // sndPlaySound(nullptr, ...): silence whatever still plays.
    virtual void Stop() {}
};

// Installs the output (nullptr: silence). Returns the previous one.
CSoundOutput* SetSoundOutput(CSoundOutput* pOutput);

// Plays on the session's sound server (pulseaudio, or pipewire-pulse, which
// speaks its protocol), from the event loop of the user-interface thread
// (under an event dispatcher other than Qt's GLib one, from the sound
// library's own thread).
// It follows the server for as long as it lives: one that comes up late, or
// again after a restart or a crash, plays the next cue; while there is none,
// every cue is silent at once, and the output looks for one now and then. It never waits for the server, never starts
// one, and writes nothing on the terminal. Needs a QCoreApplication.
class CServerSoundOutput : public CSoundOutput {
public:
    CServerSoundOutput();
    CServerSoundOutput(const CServerSoundOutput&) = delete;
    CServerSoundOutput& operator=(const CServerSoundOutput&) = delete;
    ~CServerSoundOutput() override;
    void Play(int nId, const void* pImage) override;
    void Stop() override;
    // Whether the output is connected to a sound server now.
    bool Connected() const;

    struct Impl;

private:
    Impl* m_pImpl;
};
