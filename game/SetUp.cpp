// Construction, destruction and the new-game set-up.
#include "game/SlabixView.h"

CSlabixView::CSlabixView()
{
    SetUpGame(1);
}

// The strings go first, then the fonts, pens and brushes, in the reverse
// order of their declaration: the members' own destruction order.
CSlabixView::~CSlabixView() = default;

void CSlabixView::SetUpGame(BOOL bFirst)
{
    crt::srand(static_cast<std::uint32_t>(crt::time()));

    m_bHalted = 0;
    m_bDragging = 0;
    m_bScreenReady = 0;
    m_nStage = 0;
    m_nCost = 0;
    m_nPenalty = 0;
    m_nBonus = 0;

    m_nLayout = crt::rand() % NUM_LAYOUTS;

    if (bFirst == 1)
        m_nTotalProfit = 0;

    for (int nLayout = 0; nLayout < NUM_LAYOUTS; ++nLayout)
        for (int i = 0; i < NUM_STONES; ++i)
            m_rcLayout[nLayout][i] = g_rcLayouts[nLayout][i];

    for (int i = 0; i < NUM_STONES; ++i) {
        m_nPathLen[i] = 0;
        m_rcStone[i] = m_rcLayout[m_nLayout][i];
    }
    m_nCurStone = 0;

    if (m_brWhite.GetSafeHandle() == 0) {
        m_brWhite.CreateSolidBrush(0x00FFFFFF);
        m_brBlack.CreateSolidBrush(0x00000000);
        m_brRed.CreateSolidBrush(0x000000FF);
        m_brPaleYellow.CreateSolidBrush(0x00B4F0FF);
        m_brDirt.CreateSolidBrush(CR_DIRT);
        for (int i = 0; i < NUM_STONES; ++i) {
            m_brStone[i].CreateSolidBrush(g_crStoneColour[i]);
            m_penStone[i].CreatePen(PS_SOLID, 1, g_crStoneColour[i]);
        }
        m_penWhite.CreatePen(PS_SOLID, 1, 0x00FFFFFF);
        m_penDirt.CreatePen(PS_SOLID, 1, CR_DIRT);
        m_penBlack.CreatePen(PS_SOLID, 1, 0x00000000);
        m_penPaleYellow.CreatePen(PS_SOLID, 1, 0x00B4F0FF);
    }

    m_strInstructions = QString::fromLatin1(g_pszInstructions[0]);
    for (int nLine = 1; nLine < 22; ++nLine)
        m_strInstructions += QString::fromLatin1(g_pszInstructions[nLine]);
    m_strInstructions += QString::fromLatin1(g_pszClosingNotice);

    m_strMoreGames = QString::fromLatin1(g_pszMoreGames);
}
