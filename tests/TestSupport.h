// Helpers shared by the view tests.
#pragma once

#include "game/SlabixView.h"
#include "platform/Sound.h"

#include <memory>
#include <vector>

// Colours by their parts, 0x00BBGGRR.
constexpr COLORREF RGB(int r, int g, int b)
{
    return COLORREF(r & 0xFF) | (COLORREF(g & 0xFF) << 8) | (COLORREF(b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF cr) { return int(cr & 0xFF); }
constexpr int GetGValue(COLORREF cr) { return int((cr >> 8) & 0xFF); }
constexpr int GetBValue(COLORREF cr) { return int((cr >> 16) & 0xFF); }

// A sound output that records the ids played.
class CRecordingSoundOutput : public CSoundOutput {
public:
    void Play(int nId, const void* pImage) override { m_played.push_back(nId); }
    std::vector<int> m_played;
};

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
