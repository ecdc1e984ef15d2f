// Helpers shared by the view tests.
#pragma once

#include "game/SlabixView.h"
#include "platform/Sound.h"

#include <memory>

// Installs a recording sound output for the life of the object.
class SoundRecorder {
public:
    SoundRecorder();
    ~SoundRecorder();
    std::vector<int>& Played() { return m_output.m_played; }

private:
    CRecordingSoundOutput m_output;
    CSoundOutput* m_pPrevious;
};

// Fixes the clock for the life of the object.
class FixedClock {
public:
    explicit FixedClock(crt::time_t t);
    ~FixedClock();
};

// A view on a framebuffer of the given size, painted once.
std::unique_ptr<CSlabixView> MakeView(int nWidth = 1020, int nHeight = 700);

COLORREF PixelAt(const CView& view, int x, int y);
