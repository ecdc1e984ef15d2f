// The End command: score the job from the board on the screen, compose the
// results and draw the results screen.
#include "game/SlabixView.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kPay = 8000;
constexpr int kBonus = 2400;
constexpr int kPenaltyPerPixel = 4;

const char kCostLabel[] =
    "You completed the job. It pays              8000 dollars. \nThe total cost of your moves is";
const char kPenaltyLabel[] = "\nIn addition, you have a penalty of";
const char kProfitLabel[] = "\nYour net profit is";
const char kTotalLabel[] = "\nYour total profit from all games is";
const char kNoMoney[] = "\nYou made no money. Better luck next time. ";
const char kPerfect[] =
    "\nYour arrangement is perfect. \nNo stones of the same color are \nnext to each other. ";
const char kBonusLine[] = "\nAs a result, you get the bonus of           2400 dollars. ";
const char kDollars[] = " dollars. ";
const char kCaption[] = "** Only stones within patio area are shown ";
const char kResultsPrompt[] =
    "To play again, press the space bar. To print the results and instructions, press the Ctrl and P keys. \n"
    "To exit, press the Alt and F4 keys.";

// A label followed by enough spaces that an amount of this many digits ends
// in character 48 of its line; longer amounts get the fewest spaces.
QString Label(const char* pszText, int nAmount, int nOneDigitSpaces, int nFewestSpaces)
{
    int nSpaces = nOneDigitSpaces;
    for (long long nLimit = 9; nAmount > nLimit && nSpaces > nFewestSpaces; nLimit = nLimit * 10 + 9)
        --nSpaces;
    return QLatin1String(pszText) + QString(nSpaces, QLatin1Char(' '));
}

// One of the eight probe pairs of a stone: the client coordinates of a pixel
// just inside one of its edges, near a corner, and of the pixel three pixels
// outside that edge.
struct Probe {
    int nInX, nInY, nOutX, nOutY;
};

// Probes reach this far beyond a stone's rectangle.
constexpr int kProbeReach = 3;

// A pixel of the board: the screen's where the framebuffer has it, else the
// off-screen drawing's (when there is one).
COLORREF BoardPixel(const CDC& dcScreen, const CDC* pBeyond, int x, int y)
{
    const COLORREF cr = dcScreen.GetPixel(x, y);
    return cr == CLR_INVALID && pBeyond ? pBeyond->GetPixel(x, y) : cr;
}

// The dirt pixels of the scan (x 451 to 1003, y 351 to 639), row by row: the
// screen's where it has them, the off-screen board's beyond its edges.
int CountDirt(const QImage& screen, const QImage& beyond)
{
    const std::uint32_t dirt = ToQRgb(CR_DIRT);
    const int nLeft = RC_PATIO.left + 1, nRight = RC_PATIO.right;  // right exclusive
    int nCount = 0;
    auto count = [&](const QImage& image, int y, int x0, int x1) {
        const auto* pRow = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        for (int x = x0; x < x1; ++x)
            nCount += (pRow[x] | 0xFF000000u) == dirt;
    };
    for (int y = RC_PATIO.top + 1; y < RC_PATIO.bottom; ++y) {
        const int nOnScreen = y < screen.height() ? std::clamp(screen.width(), nLeft, nRight) : nLeft;
        if (nOnScreen > nLeft)
            count(screen, y, nLeft, nOnScreen);
        if (nOnScreen < nRight)
            count(beyond, y, nOnScreen, nRight);
    }
    return nCount;
}

}  // namespace

void CSlabixView::EndCommand(CDC* pDC)
{
    if (m_nStage == 1) {
        // Score the board as the stones lie, even when the instructions page
        // covers it. The scan and the probes read the board drawn on a white
        // client area; the results screen clears the whole client area
        // afterwards, so only what they read is cleared first.
        CRect rcRead = RC_PATIO;
        for (const CRect& rc : m_rcStone)
            rcRead.Unite(CRect(rc.left - kProbeReach, rc.top - kProbeReach, rc.right + kProbeReach,
                               rc.bottom + kProbeReach));
        CRect rcCleared(std::max(rcRead.left, m_rcClient.left), std::max(rcRead.top, m_rcClient.top),
                        std::min(rcRead.right, m_rcClient.right), std::min(rcRead.bottom, m_rcClient.bottom));
        if (!rcCleared.IsRectEmpty())
            pDC->FillRect(rcCleared, &m_brWhite);
        DrawBoard();

        // The scan reads the screen. Where the pixels it reads lie beyond the
        // framebuffer (the window shrank and its repaint has not come yet),
        // it reads the board drawn off the screen instead.
        const QImage& screen = FrameBuffer();
        QImage imgBeyond;
        if (rcRead.right > screen.width() || rcRead.bottom > screen.height())
            imgBeyond = DrawBoardOffScreen(rcRead.right, rcRead.bottom);
        const CFrameDC dcBeyond(imgBeyond);
        const CDC* pBeyond = imgBeyond.isNull() ? nullptr : &dcBeyond;

        m_nPenalty += kPenaltyPerPixel * CountDirt(screen, imgBeyond);

        if (m_nPenalty == 0) {
            m_nBonus = kBonus;
            for (int i = 0; i < NUM_STONES && m_nBonus != 0; ++i) {
                const CRect& rc = m_rcStone[i];
                const int L = rc.left, T = rc.top, R = rc.right, B = rc.bottom;
                const Probe probes[8] = {
                    {L + 2, T + 1, L - 3, T + 1}, {L + 2, B - 2, L - 3, B - 2},
                    {R - 3, T + 1, R + 2, T + 1}, {R - 3, B - 2, R + 2, B - 2},
                    {L + 1, T + 2, L + 1, T - 3}, {R - 2, T + 2, R - 2, T - 3},
                    {L + 1, B - 3, L + 1, B + 2}, {R - 2, B - 3, R - 2, B + 2},
                };
                for (const Probe& probe : probes) {
                    m_crSample1 = BoardPixel(*pDC, pBeyond, probe.nInX, probe.nInY);
                    m_crSample2 = BoardPixel(*pDC, pBeyond, probe.nOutX, probe.nOutY);
                    if (m_crSample1 == m_crSample2) {
                        m_nBonus = 0;
                        break;
                    }
                }
            }
        }
        m_nStage = 2;
    }

    pDC->FillRect(m_rcClient, &m_brWhite);

    m_nProfit = kPay + m_nBonus - m_nPenalty - m_nCost;
    std::snprintf(m_szCost, sizeof m_szCost, "%i", m_nCost);
    std::snprintf(m_szPenalty, sizeof m_szPenalty, "%i", m_nPenalty);
    std::snprintf(m_szDirt, sizeof m_szDirt, "%i", m_nPenalty / kPenaltyPerPixel);
    std::snprintf(m_szProfit, sizeof m_szProfit, "%i", m_nProfit);

    ComposeResults();
    DrawResultsScreen(pDC);
}

// Builds the results text; also clamps the profit, adds it to the total once
// and moves the stage to 3 when there is a profit.
void CSlabixView::ComposeResults()
{
    m_strResults = Label(kCostLabel, m_nCost, 16, 11) + QLatin1String(m_szCost) + QLatin1String(kDollars);

    if (m_nPenalty > 0) {
        m_strResults += Label(kPenaltyLabel, m_nPenalty, 13, 5) + QLatin1String(m_szPenalty) +
                        QLatin1String(" dollars. \n (because you left ") + QLatin1String(m_szDirt) +
                        QLatin1String("\n square inches of uncovered dirt.) ");
    }

    if (m_nProfit < 1) {
        m_strResults += QLatin1String(kNoMoney);
        m_nProfit = 0;
    } else if (m_nBonus > 0) {
        m_strResults += QLatin1String(kPerfect);
        m_strResults += QLatin1String(kBonusLine);
    }

    if (m_nProfit > 0) {
        m_strResults += Label(kProfitLabel, m_nProfit, 29, 26) + QLatin1String(m_szProfit) + QLatin1String(kDollars);
        if (m_nStage == 2)
            m_nTotalProfit += m_nProfit;
        m_nStage = 3;
    }

    std::snprintf(m_szTotal, sizeof m_szTotal, "%i", m_nTotalProfit);
    if (m_nTotalProfit != m_nProfit && m_nTotalProfit > 0)
        m_strResults += Label(kTotalLabel, m_nTotalProfit, 12, 6) + QLatin1String(m_szTotal) + QLatin1String(kDollars);
}

void CSlabixView::DrawResultsScreen(CDC* pDC)
{
    const int X = m_nUnitX;
    const int Y = m_nUnitY;

    const int nLeft = (m_rcClient.right - RC_PATIO.Width()) / 2;
    const int nTop = m_rcClient.top + 3 * Y;
    m_rcWork = CRect(nLeft, nTop, nLeft + RC_PATIO.Width(), nTop + RC_PATIO.Height());
    DrawPatioPicture(pDC, m_rcWork, TRUE);

    pDC->SelectObject(&m_fontSmall);
    pDC->SetTextColor(0x005C8C00);
    pDC->TextOut(m_rcWork.left + X, m_rcWork.bottom + Y / 2, QLatin1String(kCaption));

    m_rcWork = CRect(m_rcClient.left + 2 * X, m_rcWork.bottom + 4 * Y, m_rcClient.right - 2 * X,
                     m_rcClient.bottom - 8 * Y);
    pDC->SelectObject(&m_fontResults);
    pDC->SetTextColor(0x00C00000);
    pDC->DrawText(m_strResults, m_rcWork, DT_LEFT | DT_TOP | DT_WORDBREAK);

    pDC->SetTextColor(0x00C000FF);
    pDC->SelectObject(&m_fontText);
    pDC->DrawText(QLatin1String(kResultsPrompt), m_rcPrompt, DT_LEFT | DT_TOP | DT_WORDBREAK);
}
