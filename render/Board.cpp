// The play screen: patio, stones, prompt line and the status panel.
#include "game/SlabixView.h"

#include <cstdio>

namespace {
const char kBoardPrompt[] =
    "To look at the instructions, press the F1 key. When you're done press the End key.";
}

void CSlabixView::DrawPatioPicture(CDC* pDC, const CRect& rcPicture, BOOL bOnlyOnPatio)
{
    pDC->SelectObject(&m_penBlack);
    pDC->SelectObject(&m_brDirt);
    pDC->Rectangle(rcPicture);

    const int dx = rcPicture.left - RC_PATIO.left;
    const int dy = rcPicture.top - RC_PATIO.top;
    pDC->SelectObject(&m_penBlack);
    for (int i = 0; i < NUM_STONES; ++i) {
        const CRect& rc = m_rcStone[i];
        if (bOnlyOnPatio && !(rc.left >= RC_PATIO.left - 2 && rc.top >= RC_PATIO.top - 2 &&
                              rc.right <= RC_PATIO.right + 2 && rc.bottom <= RC_PATIO.bottom + 2))
            continue;
        pDC->SelectObject(&m_brStone[i]);
        pDC->Rectangle(rc.left + dx, rc.top + dy, rc.right + dx, rc.bottom + dy);
    }
}

QImage CSlabixView::DrawBoardOffScreen(int nRight, int nBottom)
{
    QImage image(nRight, nBottom, QImage::Format_RGB32);
    image.fill(Qt::white);
    CFrameDC dc(image);
    DrawPatioPicture(&dc, RC_PATIO, FALSE);
    return image;
}

void CSlabixView::DrawBoard()
{
    CClientDC dc(this);

    m_rcPatio = RC_PATIO;
    DrawPatioPicture(&dc, m_rcPatio, FALSE);

    dc.SelectObject(&m_fontSmall);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(0x00C000FF);
    dc.TextOut(m_rcClient.left + 2 * m_nUnitX, m_rcClient.bottom - 2 * m_nUnitY,
               QLatin1String(kBoardPrompt));

    DrawStatusPanel();
}

void CSlabixView::DrawStatusPanel()
{
    CClientDC dc(this);

    dc.FillRect(m_rcCost, &m_brBlack);
    dc.SetBkMode(TRANSPARENT);
    dc.SelectObject(&m_fontText);
    dc.SetTextColor(0x00FFFFFF);
    std::snprintf(m_szPanel, sizeof m_szPanel, "%i", m_nCost);
    dc.DrawText(QLatin1String(m_szPanel), m_rcCost, DT_CENTER | DT_VCENTER | DT_SINGLELINE);

    dc.FillRect(m_rcLayoutNo, &m_brWhite);
    dc.SelectObject(&m_fontText);
    dc.SetTextColor(0x00F2F2F2);
    std::snprintf(m_szPanel, sizeof m_szPanel, "%i", m_nLayout + 1);
    dc.DrawText(QLatin1String(m_szPanel), m_rcLayoutNo, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}
