// Embedded sound resources and asynchronous playback.
//
// The cues are WAVE images compiled in as Qt resources under ":/sound/<id>".
// sndPlaySound hands an image to the current output and returns at once; a new
// cue replaces one still playing. With no output, or no audio device, nothing
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

// Plays through QSoundEffect; loads every cue at construction. Needs a
// QGuiApplication. Never waits on the effect's signals.
class CQtSoundOutput : public CSoundOutput {
public:
    CQtSoundOutput();
    CQtSoundOutput(const CQtSoundOutput&) = delete;
    CQtSoundOutput& operator=(const CQtSoundOutput&) = delete;
    ~CQtSoundOutput() override;
    void Play(int nId, const void* pImage) override;
    void Stop() override;

private:
    struct Impl;
    Impl* m_pImpl;
};
