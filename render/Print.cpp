// Printing: one page with the header, the patio picture, the results after a
// game, and the instructions. Offered on the title and results screens only.
#include "game/SlabixView.h"

#include "game/Product.h"

namespace {
const char kNote[] = "** Only stones within patio area are shown ";
}

BOOL CSlabixView::OnPreparePrinting(CPrintInfo* pInfo)
{
    if (m_nStage == 1 || m_bHalted == 1)
        return FALSE;
    return DoPreparePrinting(pInfo);
}

void CSlabixView::OnBeginPrinting(CDC* pDC, CPrintInfo* pInfo) {}

void CSlabixView::OnEndPrinting(CDC* pDC, CPrintInfo* pInfo) {}

void CSlabixView::OnPrint(CDC* pDC, CPrintInfo* pInfo)
{
    if (m_bHalted == 1 || m_nStage == 1) {
        // The game stopped while the dialog was open: one blank page, no more.
        pInfo->m_bContinuePrinting = FALSE;
        return;
    }

    const int W = pInfo->m_rectDraw.right;
    const int H = pInfo->m_rectDraw.bottom;
    const bool bResults = m_nStage == 2 || m_nStage == 3;

    m_fontPrint.DeleteObject();
    m_fontPrint.CreateFont(60, 500, "Arial");
    pDC->SelectObject(&m_fontPrint);
    CString strHeader = QLatin1String(SLABIX_NAME " " SLABIX_VERSION " - Run on: ") + m_strRunTime;
    if (bResults)
        strHeader += QLatin1String(" - Below are your results: ");
    pDC->TextOut(240, 120, strHeader);

    const int nLeft = (W - RC_PATIO.Width()) / 2;
    m_rcWork = CRect(nLeft, 250, nLeft + RC_PATIO.Width(), 540);
    DrawPatioPicture(pDC, m_rcWork, TRUE);

    m_fontPrint.DeleteObject();
    m_fontPrint.CreateFont(36, 500, "Arial");
    pDC->SelectObject(&m_fontPrint);
    pDC->TextOut(nLeft + m_nUnitX, 540 + m_nUnitY, QLatin1String(kNote));

    m_fontPrint.DeleteObject();
    m_fontPrint.CreateFont(50, 700, "Courier New");
    pDC->SelectObject(&m_fontPrint);
    // The results' rectangle; the instructions follow it after a game, and
    // take its place on the title screen.
    m_rcWork = CRect(240, 700, W - 240, 1200);
    if (bResults) {
        pDC->DrawText(m_strResults, m_rcWork, DT_LEFT | DT_TOP | DT_WORDBREAK);
        m_rcWork.top = 1260;
    }

    m_fontPrint.DeleteObject();
    m_fontPrint.CreateFont(50, 500, "Arial");
    pDC->SelectObject(&m_fontPrint);
    m_rcWork.bottom = H - 40;
    m_strPrint = m_strInstructions + m_strMoreGames;
    pDC->DrawText(m_strPrint, m_rcWork, DT_LEFT | DT_TOP | DT_WORDBREAK);

    pInfo->m_bContinuePrinting = FALSE;
}
