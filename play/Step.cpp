// The one-pixel step of the current stone: boundary and collision tests, the
// repaint of only the pixels that change, and the sound cues of a stop.
#include "game/SlabixView.h"
#include "platform/Sound.h"

#include <algorithm>

BOOL CSlabixView::StepLeavesBoundary(EStep eStep) const
{
    const CRect& rc = m_rcStone[m_nCurStone];
    switch (eStep) {
    case STEP_RIGHT: return !(rc.right <= m_rcClient.right - 1);
    case STEP_LEFT:  return !(rc.left >= m_rcClient.left + 2);
    case STEP_DOWN:  return !(rc.bottom <= m_rcClient.bottom - 2 * m_nUnitY);
    case STEP_UP:    return !(rc.top >= m_rcClient.top + 2);
    }
    return TRUE;
}

// Another stone abuts the leading side and shares a row (or a column) with
// it. Stones meeting only at a corner do not block each other.
BOOL CSlabixView::StepHitsStone(EStep eStep) const
{
    const CRect& rc = m_rcStone[m_nCurStone];
    for (int j = 0; j < NUM_STONES; ++j) {
        if (j == m_nCurStone)
            continue;
        const CRect& other = m_rcStone[j];
        const bool bSharesRow = rc.top < other.bottom && rc.bottom > other.top;
        const bool bSharesColumn = rc.left < other.right && rc.right > other.left;
        switch (eStep) {
        case STEP_RIGHT: if (rc.right == other.left && bSharesRow) return TRUE; break;
        case STEP_LEFT:  if (rc.left == other.right && bSharesRow) return TRUE; break;
        case STEP_DOWN:  if (rc.bottom == other.top && bSharesColumn) return TRUE; break;
        case STEP_UP:    if (rc.top == other.bottom && bSharesColumn) return TRUE; break;
        }
    }
    return FALSE;
}

void CSlabixView::StepStone(EStep eStep, CDC* pDC)
{
    CRect& rc = m_rcStone[m_nCurStone];
    const bool bHorizontal = eStep == STEP_RIGHT || eStep == STEP_LEFT;

    // 1. Erase the trailing line.
    pDC->SelectObject(&m_penWhite);
    int nErased = 0;
    switch (eStep) {
    case STEP_RIGHT: nErased = rc.left;       break;
    case STEP_LEFT:  nErased = rc.right - 1;  break;
    case STEP_DOWN:  nErased = rc.top;        break;
    case STEP_UP:    nErased = rc.bottom - 1; break;
    }
    if (bHorizontal) {
        pDC->MoveTo(nErased, rc.top);
        pDC->LineTo(nErased, rc.bottom);
    } else {
        pDC->MoveTo(rc.left, nErased);
        pDC->LineTo(rc.right, nErased);
    }

    // 2. Give the patio its look back where the erased line crossed it.
    pDC->SelectObject(&m_penBlack);
    if (bHorizontal) {
        if (rc.bottom > RC_PATIO.top && rc.top < RC_PATIO.bottom) {
            m_nClipTop = std::max(rc.top, RC_PATIO.top);
            m_nClipBottom = std::min(rc.bottom, RC_PATIO.bottom);
            if (nErased == RC_PATIO.left || nErased == RC_PATIO.right - 1) {
                pDC->MoveTo(nErased, m_nClipTop);
                pDC->LineTo(nErased, m_nClipBottom);
            } else if (nErased > RC_PATIO.left && nErased < RC_PATIO.right - 1) {
                pDC->SelectObject(&m_penDirt);
                pDC->MoveTo(nErased, m_nClipTop);
                pDC->LineTo(nErased, m_nClipBottom);
                if (rc.top <= RC_PATIO.top)
                    pDC->SetPixel(nErased, RC_PATIO.top, 0x00000000);
                else if (rc.bottom >= RC_PATIO.bottom)
                    pDC->SetPixel(nErased, RC_PATIO.bottom - 1, 0x00000000);
            }
        }
    } else {
        if (rc.right > RC_PATIO.left && rc.left < RC_PATIO.right) {
            m_nClipLeft = std::max(rc.left, RC_PATIO.left);
            m_nClipRight = std::min(rc.right, RC_PATIO.right);
            if (nErased == RC_PATIO.top || nErased == RC_PATIO.bottom - 1) {
                pDC->MoveTo(m_nClipLeft, nErased);
                pDC->LineTo(m_nClipRight, nErased);
            } else if (nErased > RC_PATIO.top && nErased < RC_PATIO.bottom - 1) {
                pDC->SelectObject(&m_penDirt);
                pDC->MoveTo(m_nClipLeft, nErased);
                pDC->LineTo(m_nClipRight, nErased);
                if (rc.left <= RC_PATIO.left)
                    pDC->SetPixel(RC_PATIO.left, nErased, 0x00000000);
                else if (rc.right >= RC_PATIO.right)
                    pDC->SetPixel(RC_PATIO.right - 1, nErased, 0x00000000);
            }
        }
    }

    // 3. Move.
    switch (eStep) {
    case STEP_RIGHT: ++rc.left; ++rc.right;   break;
    case STEP_LEFT:  --rc.left; --rc.right;   break;
    case STEP_DOWN:  ++rc.top; ++rc.bottom;   break;
    case STEP_UP:    --rc.top; --rc.bottom;   break;
    }

    // 4. The outline lines across the motion, at the new place.
    pDC->SelectObject(&m_penBlack);
    if (bHorizontal) {
        pDC->MoveTo(rc.left, rc.top);
        pDC->LineTo(rc.left, rc.bottom);
        pDC->MoveTo(rc.right - 1, rc.top);
        pDC->LineTo(rc.right - 1, rc.bottom);
    } else {
        pDC->MoveTo(rc.left, rc.top);
        pDC->LineTo(rc.right, rc.top);
        pDC->MoveTo(rc.left, rc.bottom - 1);
        pDC->LineTo(rc.right, rc.bottom - 1);
    }

    // 5. The old leading outline is inside the stone now; its end pixels
    //    stay black.
    pDC->SelectObject(&m_penStone[m_nCurStone]);
    switch (eStep) {
    case STEP_RIGHT:
        pDC->MoveTo(rc.right - 2, rc.top + 1);
        pDC->LineTo(rc.right - 2, rc.bottom - 1);
        break;
    case STEP_LEFT:
        pDC->MoveTo(rc.left + 1, rc.top + 1);
        pDC->LineTo(rc.left + 1, rc.bottom - 1);
        break;
    case STEP_DOWN:
        pDC->MoveTo(rc.left + 1, rc.bottom - 2);
        pDC->LineTo(rc.right - 1, rc.bottom - 2);
        break;
    case STEP_UP:
        pDC->MoveTo(rc.left + 1, rc.top + 1);
        pDC->LineTo(rc.right - 1, rc.top + 1);
        break;
    }
}

void CSlabixView::PlaySoundCue(int nId)
{
    HRSRC hRes = FindResource(nId, "sound");
    if (hRes == nullptr)
        return;
    HGLOBAL hImage = LoadResource(hRes);
    if (hImage == nullptr)
        return;
    sndPlaySound(LockResource(hImage), SND_ASYNC | SND_NODEFAULT | SND_MEMORY);
}

// A boundary stop (IDR_BUZZ) or a collision stop (IDR_THUMP): the move is
// over and the stone stays where it is. What the stop costs is the caller's.
void CSlabixView::StopMove(int nCue)
{
    PlaySoundCue(nCue);
    m_bDragging = 0;
}
