// Fork-lift moves: press on a stone, drag it, release. 200 dollars a move.
#include "game/SlabixView.h"

#include <algorithm>
#include <climits>

namespace {
constexpr int kMoveCharge = 200;  // a fork-lift move, whatever its length

// Strict: a press on a stone's left column or top row misses it.
bool Hits(const CRect& rc, CPoint point)
{
    return rc.left < point.x && point.x < rc.right && rc.top < point.y && point.y < rc.bottom;
}
}  // namespace

void CSlabixView::OnLButtonDown(UINT nFlags, CPoint point)
{
    if (m_bHalted == 1 || m_nStage != 1)
        return;

    m_bDragging = 0;

    if (!(m_nCurStone >= 0 && m_nCurStone < NUM_STONES && Hits(m_rcStone[m_nCurStone], point))) {
        int nHit = -1;
        for (int i = 0; i < NUM_STONES; ++i) {
            if (Hits(m_rcStone[i], point)) {
                nHit = i;
                break;
            }
        }
        if (nHit < 0) {
            m_nCurStone = 0;
            return;
        }
        m_nCurStone = nHit;
    }

    m_nPathLen[m_nCurStone] = 0;
    m_ptPath[m_nCurStone][0] = point;
    m_bDragging = 1;
}

// Only the press point and the two newest points are ever read, so when the
// record is full the newest point moves down next to the press point.
void CSlabixView::RecordDragPoint(CPoint point)
{
    int& nLen = m_nPathLen[m_nCurStone];
    CPoint* pPath = m_ptPath[m_nCurStone];
    if (nLen + 1 >= PATH_POINTS) {
        pPath[1] = pPath[nLen];
        nLen = 1;
    }
    pPath[++nLen] = point;
}

void CSlabixView::OnMouseMove(UINT nFlags, CPoint point)
{
    if (m_bHalted == 1)
        return;
    CClientDC dc(this);
    if (m_bDragging != 1 || m_nStage != 1)
        return;

    RecordDragPoint(point);
    const int nLen = m_nPathLen[m_nCurStone];
    const CPoint& ptPrevious = m_ptPath[m_nCurStone][nLen - 1];
    // Widened: points far outside the window must not overflow.
    const long long nDx = static_cast<long long>(point.x) - ptPrevious.x;
    const long long nDy = static_cast<long long>(point.y) - ptPrevious.y;
    m_nStepX = static_cast<int>(std::clamp<long long>(nDx, INT_MIN, INT_MAX));
    m_nStepY = static_cast<int>(std::clamp<long long>(nDy, INT_MIN, INT_MAX));

    // The horizontal leg first, then the vertical one; a stop drops the rest.
    // Every leg ends at the boundary at the latest, so none runs for long.
    const EStep eHorizontal = nDx > 0 ? STEP_RIGHT : STEP_LEFT;
    for (long long n = nDx > 0 ? nDx : -nDx; n > 0; --n)
        if (!DragStep(eHorizontal, &dc))
            return;

    const EStep eVertical = nDy > 0 ? STEP_DOWN : STEP_UP;
    for (long long n = nDy > 0 ? nDy : -nDy; n > 0; --n)
        if (!DragStep(eVertical, &dc))
            return;
}

// The boundary stops the drag for free; a stone in the way stops it and the
// move is charged at once (the button-up then adds nothing).
BOOL CSlabixView::DragStep(EStep eStep, CDC* pDC)
{
    if (StepLeavesBoundary(eStep)) {
        StopMove(IDR_BUZZ);
        return FALSE;
    }
    if (StepHitsStone(eStep)) {
        StopMove(IDR_THUMP);
        m_nCost += kMoveCharge;
        return FALSE;
    }
    StepStone(eStep, pDC);
    return TRUE;
}

void CSlabixView::OnLButtonUp(UINT nFlags, CPoint point)
{
    if (m_bHalted == 1 || m_nStage != 1)
        return;
    if (point != m_ptPath[m_nCurStone][0] && m_bDragging == 1)
        m_nCost += kMoveCharge;
    m_bDragging = 0;
    DrawStatusPanel();
}
