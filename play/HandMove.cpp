// Hand moves: the arrow keys move the current stone one inch a press, at 2
// dollars a press.
#include "game/SlabixView.h"

namespace {
constexpr int kInchCharge = 2;
}

// A press against the boundary is free; every other press is charged, and
// the cost box shows it at once, also when a stone in the way holds the
// stone back.
void CSlabixView::HandStep(EStep eStep, CDC* pDC)
{
    if (StepLeavesBoundary(eStep)) {
        StopMove(IDR_BUZZ);
        return;
    }
    m_nCost += kInchCharge;
    DrawStatusPanel();
    if (StepHitsStone(eStep)) {
        StopMove(IDR_THUMP);
        return;
    }
    StepStone(eStep, pDC);
}
