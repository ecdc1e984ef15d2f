// The key-down handler as the flow between the game's screens.
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr COLORREF kPaleYellow = 0x00B4F0FF;
constexpr COLORREF kWhite = 0x00FFFFFF;

// A view in the given stage, on a 1020x740 client area.
std::unique_ptr<CSlabixView> ViewInStage(int nStage)
{
    auto pView = MakeView(1020, 740);
    if (nStage >= 1)
        pView->OnKeyDown(VK_SPACE, 1, 0);
    if (nStage == 2)
        pView->OnKeyDown(VK_END, 1, 0);  // nothing moved: no money
    if (nStage == 3) {
        // A profitable result as scoring leaves it.
        pView->OnKeyDown(VK_END, 1, 0);
        pView->m_nPenalty = 0;
        pView->m_nBonus = 2400;
        pView->m_nStage = 3;
        pView->m_nTotalProfit = 10400;
        pView->Paint();
    }
    EXPECT_EQ(pView->m_nStage, nStage);
    return pView;
}

struct Snapshot {
    int nStage, nCost, nTotal, nPenalty, nBonus, nLayout;
    CRect rcStone0;
    QImage image;
};

Snapshot Take(const CSlabixView& view)
{
    return {view.m_nStage,   view.m_nCost,   view.m_nTotalProfit, view.m_nPenalty,
            view.m_nBonus,   view.m_nLayout, view.m_rcStone[0],   view.FrameBuffer().copy()};
}

void ExpectUnchanged(const Snapshot& before, const CSlabixView& view, const char* pszWhat)
{
    EXPECT_EQ(view.m_nStage, before.nStage) << pszWhat;
    EXPECT_EQ(view.m_nCost, before.nCost) << pszWhat;
    EXPECT_EQ(view.m_nTotalProfit, before.nTotal) << pszWhat;
    EXPECT_EQ(view.m_rcStone[0], before.rcStone0) << pszWhat;
    EXPECT_TRUE(view.FrameBuffer() == before.image) << pszWhat << ": the screen changed";
}

// Keys that do nothing in any stage.
const UINT kIgnoredKeys[] = {'A', 'P', VK_HOME, 0x0D, 0x1B, VK_F1 + 1, VK_INSERT, VK_DELETE, 0, 0xFFFFFFFF};

TEST(Flow, TitleScreen)
{
    for (UINT nKey : {VK_F1, VK_END, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN}) {
        auto pView = ViewInStage(0);
        const Snapshot before = Take(*pView);
        pView->OnKeyDown(nKey, 1, 0);
        ExpectUnchanged(before, *pView, "title screen");
    }
    auto pView = ViewInStage(0);
    const int nLayout = pView->m_nLayout;
    pView->OnKeyDown(VK_SPACE, 1, 0);
    EXPECT_EQ(pView->m_nStage, 1);
    EXPECT_EQ(pView->m_nLayout, nLayout) << "space on the title screen keeps the layout";
    EXPECT_EQ(PixelAt(*pView, 5, 5), kWhite) << "the page is cleared for the board";
    EXPECT_EQ(PixelAt(*pView, 451, 351), CR_DIRT);
}

TEST(Flow, IgnoredKeysInEveryStage)
{
    for (int nStage = 0; nStage <= 3; ++nStage) {
        auto pView = ViewInStage(nStage);
        const Snapshot before = Take(*pView);
        for (UINT nKey : kIgnoredKeys)
            pView->OnKeyDown(nKey, 1, 0);
        ExpectUnchanged(before, *pView, "ignored key");
    }
}

TEST(Flow, PlayKeys)
{
    auto pView = ViewInStage(1);
    const CRect rcStart = pView->m_rcStone[0];

    // An arrow moves stone 0 by hand for 2 dollars.
    pView->OnKeyDown(VK_DOWN, 1, 0);
    EXPECT_EQ(pView->m_rcStone[0].top, rcStart.top + 1);
    EXPECT_EQ(pView->m_nCost, 2);

    // F1 covers the board with the instructions page; the game goes on.
    pView->OnKeyDown(VK_F1, 1, 0);
    EXPECT_EQ(pView->m_nStage, 1);
    EXPECT_EQ(PixelAt(*pView, 5, 5), kPaleYellow);
    EXPECT_EQ(PixelAt(*pView, 700, 500), kPaleYellow);

    // An arrow while the page shows still moves and draws over it.
    pView->OnKeyDown(VK_RIGHT, 1, 0);
    EXPECT_EQ(pView->m_rcStone[0].left, rcStart.left + 1);
    EXPECT_EQ(pView->m_nCost, 4);
    EXPECT_EQ(PixelAt(*pView, pView->m_rcStone[0].right - 1, rcStart.top + 10), 0x00000000);

    // Space brings the board back with the stones where they lie.
    pView->OnKeyDown(VK_SPACE, 1, 0);
    EXPECT_EQ(pView->m_nStage, 1);
    EXPECT_EQ(pView->m_nCost, 4);
    EXPECT_EQ(PixelAt(*pView, 5, 5), kWhite);
    const CRect& rc = pView->m_rcStone[0];
    EXPECT_EQ(PixelAt(*pView, rc.left, rc.top), 0x00000000);
    EXPECT_EQ(PixelAt(*pView, rc.left + 5, rc.top + 5), g_crStoneColour[0]);
    EXPECT_EQ(PixelAt(*pView, rcStart.left, rcStart.top + 5), kWhite) << "its old place is white";
}

TEST(Flow, PaintInPlayDrawsStonesWhereTheyLie)
{
    auto pView = ViewInStage(1);
    for (int n = 0; n < 5; ++n)
        pView->OnKeyDown(VK_DOWN, 1, 0);
    pView->OnKeyDown(VK_F1, 1, 0);
    pView->Paint();
    const CRect& rc = pView->m_rcStone[0];
    EXPECT_EQ(rc, CRect(g_rcLayouts[pView->m_nLayout][0].left, 35, g_rcLayouts[pView->m_nLayout][0].right,
                        g_rcLayouts[pView->m_nLayout][0].bottom + 5));
    EXPECT_EQ(PixelAt(*pView, rc.left + 3, 31), kWhite) << "the start place is not drawn";
    EXPECT_EQ(PixelAt(*pView, rc.left + 3, 35), 0x00000000);
    EXPECT_EQ(PixelAt(*pView, rc.left + 3, 36), g_crStoneColour[0]);
    EXPECT_EQ(PixelAt(*pView, 451, 351), CR_DIRT) << "the board, not the instructions page";
}

TEST(Flow, EndScoresOnceAndRedraws)
{
    auto pView = ViewInStage(1);
    pView->OnKeyDown(VK_END, 1, 0);
    EXPECT_EQ(pView->m_nStage, 2) << "no move: no money";
    const Snapshot scored = Take(*pView);
    pView->OnKeyDown(VK_END, 1, 0);
    ExpectUnchanged(scored, *pView, "End again");
    pView->Paint();
    ExpectUnchanged(scored, *pView, "repaint of the results");
    for (UINT nKey : {VK_F1, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN}) {
        pView->OnKeyDown(nKey, 1, 0);
        ExpectUnchanged(scored, *pView, "F1 and arrows on the results screen");
    }
}

TEST(Flow, SpaceOnResultsStartsTheNextGame)
{
    for (int nStage : {2, 3}) {
        auto pView = ViewInStage(nStage);
        const int nTotal = pView->m_nTotalProfit;
        pView->m_nCurStone = 5;
        pView->OnKeyDown(VK_SPACE, 1, 0);
        EXPECT_EQ(pView->m_nStage, 1);
        EXPECT_EQ(pView->m_nTotalProfit, nTotal);
        EXPECT_EQ(pView->m_nCost, 0);
        EXPECT_EQ(pView->m_nPenalty, 0);
        EXPECT_EQ(pView->m_nBonus, 0);
        EXPECT_EQ(pView->m_nCurStone, 0);
        EXPECT_EQ(pView->m_bScreenReady, 0) << "the next paint lays the screen out afresh";
        for (int i = 0; i < NUM_STONES; ++i)
            EXPECT_EQ(pView->m_rcStone[i], g_rcLayouts[pView->m_nLayout][i]);
        EXPECT_EQ(PixelAt(*pView, 451, 351), CR_DIRT) << "straight to the board";
        EXPECT_EQ(PixelAt(*pView, 5, 5), kWhite);
    }
}

TEST(Flow, HeldSpaceRedrawsEachTime)
{
    auto pView = ViewInStage(1);
    int nReports = 0;
    pView->SetUpdateSink([&nReports](const CRect&) { ++nReports; });
    for (int n = 0; n < 3; ++n)
        pView->OnKeyDown(VK_SPACE, 1, 0);
    EXPECT_GE(nReports, 3);
    EXPECT_EQ(pView->m_nStage, 1);
}

}  // namespace
