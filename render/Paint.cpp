// The paint operation: title stamp, screen-size checks, the layout made once
// per game, and the screen of the current stage.
#include "game/SlabixView.h"

#include "game/Product.h"

namespace {

const char kRightsNotice[] = SLABIX_RIGHTS " -- ";
const char kVersionTail[] = " -- " SLABIX_VERSION;

const char kChangeNotice[] =
    "YOU CANNOT CHANGE SCREEN RESOLUTION DURING PLAY. PLEASE QUIT NOW BY PRESSING THE Alt and F4 KEYS.";
const char kTooSmallNotice[] =
    "THIS GAME WILL NOT RUN AT RESOLUTIONS BELOW 1024x768. PLEASE QUIT NOW BY PRESSING THE Alt and F4 KEYS.";
const char kTooLargeNotice[] =
    "THIS GAME WILL NOT RUN AT RESOLUTIONS ABOVE 1600x1200. PLEASE QUIT NOW BY PRESSING THE Alt and F4 KEYS.";

const char kTitlePrompt[] =
    "To play, press the space bar. To print the instructions, press the Ctrl and P keys. \n"
    "To exit, press the Alt and F4 keys.";

}  // namespace

void CSlabixView::OnDraw(CDC* pDC)
{
    GetClientRect(&m_rcClient);

    m_timeRun = crt::time();
    m_strRunTime = crt::FormatLocalTime(m_timeRun, "%c");
    m_strTitle = QLatin1String(kRightsNotice) + m_strRunTime + QLatin1String(kVersionTail);
    if (CDocument* pDoc = GetDocument())
        pDoc->SetTitle(m_strTitle);

    pDC->SetBkMode(TRANSPARENT);

    if (m_bScreenReady == 1 && m_rcClient != m_rcFirstClient) {
        DrawNotice(pDC, kChangeNotice);
        return;
    }

    m_nUnitX = 10;
    m_nUnitY = 10;
    if (!ChooseUnits(m_rcClient.right, m_rcClient.bottom, &m_nUnitX, &m_nUnitY)) {
        DrawNotice(pDC, m_rcClient.right < 1020 ? kTooSmallNotice : kTooLargeNotice);
        return;
    }

    if (m_bScreenReady == 0)
        MakeScreenLayout();

    switch (m_nStage) {
    case 0:
        DrawInstructionsPage(pDC, kTitlePrompt);
        break;
    case 1:
        DrawBoard();
        break;
    case 2:
    case 3:
        OnKeyDown(VK_END, 0, 0);
        break;
    default:
        break;
    }
}

BOOL CSlabixView::ChooseUnits(int nWidth, int nHeight, int* pUnitX, int* pUnitY)
{
    if (nWidth < 1020 || nWidth > 1600)
        return FALSE;
    if (nWidth < 1276) {
        *pUnitX = 12;
        *pUnitY = 12;
    } else if (nWidth < 1596) {
        *pUnitX = 14;
        *pUnitY = nHeight > 960 ? 14 : 13;
    } else {
        *pUnitX = 16;
        *pUnitY = 16;
    }
    return TRUE;
}

int CSlabixView::MinClientHeight(int nWidth) const
{
    int nUnitX = 0;
    int nUnitY = 0;
    if (!ChooseUnits(nWidth, 0, &nUnitX, &nUnitY))
        return 0;
    // The prompt line and the status panel take the last 2 units of rows;
    // they start below the patio's outline. A step down is allowed while the
    // stone ends (exclusive) at most 2 units above the client bottom, so a
    // stone can still cover the patio's last row and its outline.
    return RC_PATIO.bottom + 2 * nUnitY;
}

void CSlabixView::MakeScreenLayout()
{
    m_rcFirstClient = m_rcClient;

    const int X = m_nUnitX;
    const int Y = m_nUnitY;
    const CRect& rc = m_rcClient;
    m_rcText = CRect(rc.left + 2 * X, rc.top + 2 * Y, rc.right - 2 * X, rc.bottom - 8 * Y);
    m_rcPrompt = CRect(rc.left + 2 * X, rc.bottom - 6 * X, rc.right - 2 * X, rc.bottom - 2 * X);
    m_rcCost = CRect(rc.right - 7 * X, rc.bottom - 2 * Y, rc.right, rc.bottom);
    m_rcLayoutNo = CRect(rc.right - 9 * X, rc.bottom - 2 * Y, rc.right - 7 * X, rc.bottom);

    m_fontNotice.DeleteObject();
    m_fontNotice.CreateFont(8 * Y, 600, "Arial");
    m_fontText.DeleteObject();
    m_fontText.CreateFont(2 * Y - 2, 700, "Arial");
    m_fontSmall.DeleteObject();
    m_fontSmall.CreateFont(3 * Y / 2, 700, "Arial");
    m_fontResults.DeleteObject();
    m_fontResults.CreateFont(5 * Y / 2, 700, "Courier New");

    m_bScreenReady = 1;
}

// Blue on red over the whole client area; the game stops for good.
void CSlabixView::DrawNotice(CDC* pDC, const char* pszText)
{
    pDC->FillRect(m_rcClient, &m_brRed);
    if (m_fontNotice.GetSafeHandle() != 0)
        pDC->SelectObject(&m_fontNotice);
    pDC->SetTextColor(0x00FF0000);
    pDC->DrawText(QLatin1String(pszText), m_rcClient, DT_CENTER | DT_WORDBREAK);
    m_bHalted = 1;
}

// The pale yellow instructions page: the title screen, and the F1 page.
void CSlabixView::DrawInstructionsPage(CDC* pDC, const char* pszPrompt)
{
    pDC->SelectObject(&m_penPaleYellow);
    pDC->SelectObject(&m_brPaleYellow);
    pDC->Rectangle(m_rcClient);
    pDC->SelectObject(&m_fontText);
    pDC->SetBkMode(TRANSPARENT);
    pDC->SetTextColor(0x00000000);
    pDC->DrawText(m_strInstructions, m_rcText, DT_LEFT | DT_TOP | DT_WORDBREAK);
    pDC->SetTextColor(0x00C000FF);
    pDC->DrawText(QLatin1String(pszPrompt), m_rcPrompt, DT_LEFT | DT_TOP | DT_WORDBREAK);
}
