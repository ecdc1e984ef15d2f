#include "tests/TestSupport.h"

SoundRecorder::SoundRecorder() : m_pPrevious(SetSoundOutput(&m_output)) {}
SoundRecorder::~SoundRecorder() { SetSoundOutput(m_pPrevious); }

FixedClock::FixedClock(crt::time_t t)
{
    crt::SetClock([t] { return t; });
}
FixedClock::~FixedClock() { crt::SetClock({}); }

std::unique_ptr<CSlabixView> MakeView(int nWidth, int nHeight)
{
    auto pView = std::make_unique<CSlabixView>();
    pView->SetClientSize(nWidth, nHeight);
    pView->Paint();
    return pView;
}

COLORREF PixelAt(const CView& view, int x, int y)
{
    return FromQRgb(view.FrameBuffer().pixel(x, y));
}
