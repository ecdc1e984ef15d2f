// New-game set-up, the layout data and the generator that picks a layout.
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

// The generator, written out independently of the runtime's.
int FirstDraw(std::uint32_t seed)
{
    const std::uint32_t state = seed * 214013u + 2531011u;
    return int((state >> 16) & 0x7FFF);
}

TEST(SetUpGenerator, KnownSeeds)
{
    crt::srand(1);
    EXPECT_EQ(crt::rand(), 41);
    EXPECT_EQ(crt::rand(), 18467);
    EXPECT_EQ(crt::rand(), 6334);
    for (std::uint32_t seed : {0u, 7u, 1700000000u, 0xFFFFFFFFu}) {
        crt::srand(seed);
        EXPECT_EQ(crt::rand(), FirstDraw(seed)) << "seed " << seed;
    }
}

TEST(SetUpGenerator, LayoutComesFromTheClock)
{
    std::set<int> seen;
    for (crt::time_t t = 1700000000; t < 1700000040; ++t) {
        FixedClock clock(t);
        CSlabixView view;
        EXPECT_EQ(view.m_nLayout, FirstDraw(std::uint32_t(t)) % 5) << "time " << t;
        seen.insert(view.m_nLayout);
    }
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3, 4}));
}

TEST(SetUpGenerator, SameSecondSameLayout)
{
    FixedClock clock(1234567);
    CSlabixView view;
    const int nFirst = view.m_nLayout;
    for (int n = 0; n < 3; ++n) {
        view.SetUpGame(0);
        EXPECT_EQ(view.m_nLayout, nFirst);
    }
}

TEST(SetUp, FieldsAfterConstruction)
{
    CSlabixView view;
    EXPECT_EQ(view.m_nStage, 0);
    EXPECT_EQ(view.m_bHalted, 0);
    EXPECT_EQ(view.m_bDragging, 0);
    EXPECT_EQ(view.m_bScreenReady, 0);
    EXPECT_EQ(view.m_nCost, 0);
    EXPECT_EQ(view.m_nPenalty, 0);
    EXPECT_EQ(view.m_nBonus, 0);
    EXPECT_EQ(view.m_nTotalProfit, 0);
    EXPECT_EQ(view.m_nCurStone, 0);
    ASSERT_GE(view.m_nLayout, 0);
    ASSERT_LT(view.m_nLayout, 5);
    for (int i = 0; i < NUM_STONES; ++i) {
        EXPECT_EQ(view.m_rcStone[i], g_rcLayouts[view.m_nLayout][i]) << "stone " << i;
        EXPECT_EQ(view.m_nPathLen[i], 0);
    }
    for (int nLayout = 0; nLayout < NUM_LAYOUTS; ++nLayout)
        for (int i = 0; i < NUM_STONES; ++i)
            EXPECT_EQ(view.m_rcLayout[nLayout][i], g_rcLayouts[nLayout][i]);
}

TEST(SetUp, LaterSetUpKeepsTotalAndDrawingObjects)
{
    CSlabixView view;
    std::vector<std::uint32_t> handles;
    auto collect = [&view] {
        std::vector<std::uint32_t> h = {view.m_brWhite.GetSafeHandle(), view.m_brBlack.GetSafeHandle(),
                                        view.m_brRed.GetSafeHandle(), view.m_brPaleYellow.GetSafeHandle(),
                                        view.m_brDirt.GetSafeHandle(), view.m_penBlack.GetSafeHandle(),
                                        view.m_penPaleYellow.GetSafeHandle(), view.m_penWhite.GetSafeHandle(),
                                        view.m_penDirt.GetSafeHandle()};
        for (int i = 0; i < NUM_STONES; ++i) {
            h.push_back(view.m_brStone[i].GetSafeHandle());
            h.push_back(view.m_penStone[i].GetSafeHandle());
        }
        return h;
    };
    handles = collect();
    EXPECT_EQ(std::set<std::uint32_t>(handles.begin(), handles.end()).size(), handles.size())
        << "every drawing object has its own handle";
    EXPECT_EQ(std::count(handles.begin(), handles.end(), 0u), 0);

    view.m_nTotalProfit = 12345;
    view.m_nStage = 3;
    view.m_nCost = 400;
    view.m_nPenalty = 8;
    view.m_nBonus = 2400;
    view.m_bHalted = 1;
    view.m_bDragging = 1;
    view.m_bScreenReady = 1;
    view.m_nCurStone = 7;
    view.m_nPathLen[3] = 55;
    view.m_rcStone[2] = CRect(500, 400, 600, 500);
    view.m_nProfit = 77;
    view.SetUpGame(0);

    EXPECT_EQ(view.m_nTotalProfit, 12345);
    EXPECT_EQ(view.m_nProfit, 77) << "the profit is rewritten before it is read again";
    EXPECT_EQ(view.m_nStage, 0);
    EXPECT_EQ(view.m_nCost, 0);
    EXPECT_EQ(view.m_nPenalty, 0);
    EXPECT_EQ(view.m_nBonus, 0);
    EXPECT_EQ(view.m_bHalted, 0);
    EXPECT_EQ(view.m_bDragging, 0);
    EXPECT_EQ(view.m_bScreenReady, 0);
    EXPECT_EQ(view.m_nCurStone, 0);
    EXPECT_EQ(view.m_nPathLen[3], 0);
    for (int i = 0; i < NUM_STONES; ++i)
        EXPECT_EQ(view.m_rcStone[i], g_rcLayouts[view.m_nLayout][i]);
    EXPECT_EQ(collect(), handles) << "no drawing object is made a second time";

    view.SetUpGame(1);
    EXPECT_EQ(view.m_nTotalProfit, 0);
}

TEST(SetUp, DrawingObjectColours)
{
    CSlabixView view;
    EXPECT_EQ(view.m_brWhite.GetColor(), 0x00FFFFFFu);
    EXPECT_EQ(view.m_brBlack.GetColor(), 0x00000000u);
    EXPECT_EQ(view.m_brRed.GetColor(), 0x000000FFu);
    EXPECT_EQ(view.m_brPaleYellow.GetColor(), RGB(255, 240, 180));
    EXPECT_EQ(view.m_brDirt.GetColor(), RGB(240, 232, 224));
    EXPECT_EQ(view.m_penDirt.GetColor(), RGB(240, 232, 224));
    EXPECT_EQ(view.m_penWhite.GetColor(), 0x00FFFFFFu);
    EXPECT_EQ(view.m_penBlack.GetColor(), 0x00000000u);
    EXPECT_EQ(view.m_penPaleYellow.GetColor(), RGB(255, 240, 180));
    for (int i = 0; i < NUM_STONES; ++i) {
        EXPECT_EQ(view.m_brStone[i].GetColor(), g_crStoneColour[i]);
        EXPECT_EQ(view.m_penStone[i].GetColor(), g_crStoneColour[i]);
    }
    // Four pairs share a colour; stones 4 to 7 are unique: eight colours.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(g_crStoneColour[i], g_crStoneColour[i + 8]);
    EXPECT_EQ(std::set<COLORREF>(g_crStoneColour, g_crStoneColour + NUM_STONES).size(), 8u);
    EXPECT_EQ(g_crStoneColour[5], RGB(255, 172, 132));
}

TEST(SetUp, InstructionsText)
{
    CSlabixView view;
    const CString strFirst = view.m_strInstructions;
    EXPECT_TRUE(strFirst.startsWith(
        "You are a contractor who builds stone patios for a living. You've beeen hired to build a 46-foot long by "
        "24-foot wide patio"));
    EXPECT_TRUE(strFirst.contains(
        "to drag them over each other. \nWhen you press the space bar you will see the stones laying around the "
        "dirt-colored patio area."));
    EXPECT_TRUE(strFirst.contains("If you attempt move a stone outside of the game boundary"));
    EXPECT_TRUE(strFirst.contains("then use the arrow keys on your keyboard. In all cases"));
    EXPECT_TRUE(strFirst.contains("bottom right corner of the screen. \nFor best appearance, set the screen to "
                                  "1024x768 or higher. \n\n"))
        << "the 22 lines end before the closing notice block";
    EXPECT_EQ(strFirst.count('\n'), 3 + 2) << "three line feeds in the lines, two before the notice";
    EXPECT_TRUE(strFirst.contains("2002"));
    EXPECT_TRUE(view.m_strMoreGames.startsWith("\n\n"));
    EXPECT_GT(view.m_strMoreGames.size(), 20);

    view.m_strInstructions = "changed";
    view.SetUpGame(0);
    EXPECT_EQ(view.m_strInstructions, strFirst) << "rebuilt at every set-up, the same each time";
}

// The data must allow a perfect job and must not start a stone on the patio.
class LayoutData : public testing::TestWithParam<int> {};

TEST_P(LayoutData, AreasFillThePatioAndStartsAreApart)
{
    const CRect* rc = g_rcLayouts[GetParam()];
    long long nArea = 0;
    for (int i = 0; i < NUM_STONES; ++i) {
        ASSERT_GT(rc[i].Width(), 0);
        ASSERT_GT(rc[i].Height(), 0);
        nArea += static_cast<long long>(rc[i].Width()) * rc[i].Height();
        EXPECT_LE(rc[i].Width(), 552);
        EXPECT_LE(rc[i].Height(), 288);
        EXPECT_TRUE(rc[i].bottom <= 350 || rc[i].right <= 450) << "stone " << i << " starts beside the patio";
        EXPECT_GE(rc[i].left, 30);
        EXPECT_GE(rc[i].top, 30);
        EXPECT_LE(rc[i].right, 1000);
        EXPECT_LE(rc[i].bottom, 693);
        for (int j = i + 1; j < NUM_STONES; ++j) {
            const int nGapX = std::max(rc[j].left - rc[i].right, rc[i].left - rc[j].right);
            const int nGapY = std::max(rc[j].top - rc[i].bottom, rc[i].top - rc[j].bottom);
            EXPECT_GE(std::max(nGapX, nGapY), 8) << "stones " << i << " and " << j;
        }
    }
    EXPECT_EQ(nArea, 552 * 288);
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, LayoutData, testing::Range(0, NUM_LAYOUTS));

}  // namespace
