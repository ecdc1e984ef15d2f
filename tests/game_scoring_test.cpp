// Scoring with the End key: the dirt scan, the perfection test, the results
// text with its money lined up, the total across games, and the results
// screen's patio picture.
#include "tests/BoardKit.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <string>
#include <vector>

using namespace kit;

namespace {

constexpr crt::time_t kClock = 1700000000;

// The texts of the results, as the player reads them.
const std::string kPay = "You completed the job. It pays              8000 dollars. ";
const std::string kCostLabel = "\nThe total cost of your moves is";
const std::string kPenaltyLabel = "\nIn addition, you have a penalty of";
const std::string kProfitLabel = "\nYour net profit is";
const std::string kTotalLabel = "\nYour total profit from all games is";
const std::string kDollars = " dollars. ";
const std::string kNoMoney = "\nYou made no money. Better luck next time. ";
const std::string kPerfect =
    "\nYour arrangement is perfect. \nNo stones of the same color are \nnext to each other. "
    "\nAs a result, you get the bonus of           2400 dollars. ";

std::string Sp(int n) { return std::string(static_cast<size_t>(n), ' '); }

std::string Dirt(const std::string& inches)
{
    return " dollars. \n (because you left " + inches + "\n square inches of uncovered dirt.) ";
}

std::string Results(const CSlabixView& view) { return view.m_strResults.toStdString(); }

// Every amount followed by " dollars. " ends in character 48 of its line,
// unless it is longer than the labels allow for (given in nLongest).
::testing::AssertionResult AmountsLinedUp(const std::string& text, size_t nLongest = 5)
{
    static const QRegularExpression amount(QStringLiteral("([0-9]+) dollars\\. "));
    size_t nStart = 0;
    int nLine = 0;
    int nFound = 0;
    while (nStart <= text.size()) {
        const size_t nEnd = std::min(text.find('\n', nStart), text.size());
        const std::string line = text.substr(nStart, nEnd - nStart);
        for (const QRegularExpressionMatch& match : amount.globalMatch(QString::fromStdString(line))) {
            ++nFound;
            if (match.capturedLength(1) > static_cast<qsizetype>(nLongest))
                continue;
            const qsizetype nLast = match.capturedEnd(1);  // 1-based column of the last digit
            if (nLast != 48)
                return ::testing::AssertionFailure() << "line " << nLine << " \"" << line << "\": amount ends in column "
                                                     << nLast;
        }
        ++nLine;
        nStart = nEnd + 1;
    }
    if (nFound < 2)
        return ::testing::AssertionFailure() << "too few amounts in \"" << text << "\"";
    return ::testing::AssertionSuccess();
}

// A tiling of the patio for the stones of a view's layout.
std::optional<Places> FindTiling(const CSlabixView& view, bool bSeparate,
                                 const std::function<bool(const Places&)>& accept)
{
    const auto sizes = TilingSearch::SizesOf(view);
    for (unsigned nShuffle = 0; nShuffle < 40; ++nShuffle) {
        TilingSearch search(sizes, bSeparate, nShuffle);
        if (auto places = search.Find(accept, 200000))
            return places;
    }
    return std::nullopt;
}

bool Any(const Places&) { return true; }

bool SameColourShareEdge(const Places& places)
{
    for (int i = 0; i < 4; ++i)
        if (SharedEdge(places[i], places[i + 8]) >= 2)
            return true;
    return false;
}

bool SameColourMeetAtCorner(const Places& places)
{
    for (int i = 0; i < 4; ++i)
        if (MeetAtCorner(places[i], places[i + 8]))
            return true;
    return false;
}

class ScoringTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_view = MakeView(1024, 768);
        Key(V(), VK_SPACE);
        ASSERT_EQ(V().m_nStage, 1);
    }
    CSlabixView& V() { return *m_view; }

    Places Tiling(bool bSeparate, const std::function<bool(const Places&)>& accept = Any)
    {
        auto places = FindTiling(V(), bSeparate, accept);
        EXPECT_TRUE(places.has_value()) << "no tiling found for layout " << V().m_nLayout;
        return places.value_or(Places{});
    }
    // Lays the stones and sets the cost, then ends the game.
    void Score(const Places& places, int nCost)
    {
        PlaceAndRedraw(V(), places);
        V().m_nCost = nCost;
        Key(V(), VK_END);
    }

    FixedClock m_clock{kClock};
    SoundRecorder m_sound;
    std::unique_ptr<CSlabixView> m_view;
};

// ---------------------------------------------------------------------------

TEST_F(ScoringTest, NoMoveAtAll)
{
    Key(V(), VK_END);
    EXPECT_EQ(V().m_nPenalty, 635904);
    EXPECT_EQ(V().m_nBonus, 0);
    EXPECT_EQ(V().m_nProfit, 0);
    EXPECT_EQ(V().m_nStage, 2);
    EXPECT_EQ(V().m_nTotalProfit, 0);
    EXPECT_EQ(Results(V()), kPay + kCostLabel + Sp(16) + "0" + kDollars + kPenaltyLabel + Sp(8) + "635904" +
                                Dirt("158976") + kNoMoney);
    EXPECT_TRUE(AmountsLinedUp(Results(V())));
}

TEST_F(ScoringTest, PerfectJobCosting2650)
{
    Score(Tiling(true), 2650);
    EXPECT_EQ(V().m_nPenalty, 0);
    EXPECT_EQ(V().m_nBonus, 2400);
    EXPECT_EQ(V().m_nProfit, 7750);
    EXPECT_EQ(V().m_nStage, 3);
    EXPECT_EQ(V().m_nTotalProfit, 7750);
    EXPECT_EQ(Results(V()), kPay + kCostLabel + Sp(13) + "2650" + kDollars + kPerfect + kProfitLabel + Sp(26) +
                                "7750" + kDollars);
    EXPECT_TRUE(AmountsLinedUp(Results(V())));
}

class ScoringCostlyPerfectTest : public ScoringTest, public testing::WithParamInterface<int> {};

TEST_P(ScoringCostlyPerfectTest, ShowsOnlyNoMoneyLine)
{
    const int nCost = GetParam();
    Score(Tiling(true), nCost);
    EXPECT_EQ(V().m_nPenalty, 0);
    EXPECT_EQ(V().m_nProfit, 0);
    EXPECT_EQ(V().m_nStage, 2);
    EXPECT_EQ(V().m_nTotalProfit, 0);
    const std::string strCost = std::to_string(nCost);
    const int nSpaces = strCost.size() == 5 ? 12 : 11;
    EXPECT_EQ(Results(V()), kPay + kCostLabel + Sp(nSpaces) + strCost + kDollars + kNoMoney);
}

INSTANTIATE_TEST_SUITE_P(Scoring, ScoringCostlyPerfectTest, testing::Values(10400, 12000, 123456));

TEST_F(ScoringTest, SameColourStonesSharingEdgeLoseBonus)
{
    const Places places = Tiling(false, SameColourShareEdge);
    Score(places, 1000);
    EXPECT_EQ(V().m_nPenalty, 0);
    EXPECT_EQ(V().m_nBonus, 0);
    EXPECT_EQ(V().m_nProfit, 7000);
    EXPECT_EQ(V().m_nStage, 3);
    EXPECT_EQ(Results(V()), kPay + kCostLabel + Sp(13) + "1000" + kDollars + kProfitLabel + Sp(26) + "7000" + kDollars);
    EXPECT_TRUE(AmountsLinedUp(Results(V())));
}

TEST(ScoringCornerTest, SameColourStonesMeetingAtCornerKeepBonus)
{
    // Not every layout can be tiled that way: take the first that can.
    for (int nLayout = 0; nLayout < NUM_LAYOUTS; ++nLayout) {
        FixedClock clock(SeedForLayout(nLayout));
        SoundRecorder sound;
        auto view = MakeView(1024, 768);
        ASSERT_EQ(view->m_nLayout, nLayout);
        Key(*view, VK_SPACE);
        const auto places = FindTiling(*view, true, SameColourMeetAtCorner);
        if (!places)
            continue;
        PlaceAndRedraw(*view, *places);
        view->m_nCost = 600;
        Key(*view, VK_END);
        EXPECT_EQ(view->m_nPenalty, 0);
        EXPECT_EQ(view->m_nBonus, 2400);
        EXPECT_EQ(view->m_nStage, 3);
        EXPECT_EQ(Results(*view),
                  kPay + kCostLabel + Sp(14) + "600" + kDollars + kPerfect + kProfitLabel + Sp(26) + "9800" + kDollars);
        return;
    }
    FAIL() << "no layout has a perfect tiling with same-coloured stones meeting at a corner";
}

// ---------------------------------------------------------------------------
// A few uncovered pixels. The board is fully covered but for one stone on the
// patio's bottom edge, lowered by one row; the status boxes in the bottom
// right corner of a short client area hide all of the uncovered row but its
// first n pixels. The patio rows below the client area count as the board
// drawing would show them.

struct DirtCase {
    int nPixels;
    int nSpaces;  // after the penalty label
};

void PrintTo(const DirtCase& dc, std::ostream* os) { *os << dc.nPixels << " pixels"; }

class ScoringDirtTest : public testing::TestWithParam<DirtCase> {};

TEST_P(ScoringDirtTest, PenaltyForUncoveredPixels)
{
    const int n = GetParam().nPixels;
    FixedClock clock(kClock);
    SoundRecorder sound;

    // A tiling with a stone S on the bottom edge at least n + 2 wide whose
    // left edge lies where the status boxes can start right after n pixels.
    Places places{};
    int nS = -1;
    {
        auto probe = MakeView(1024, 768);
        auto found = FindTiling(*probe, false, [&](const Places& tiling) {
            for (int m = 0; m < 4; ++m) {
                const Places p = Mirrored(tiling, m & 1, m & 2);
                for (int i = 0; i < NUM_STONES; ++i) {
                    if (p[i].bottom == 639 && p[i].left >= 912 - n && p[i].left + n + 108 < 1276 &&
                        p[i].Width() >= n + 2) {
                        places = p;
                        nS = i;
                        return true;
                    }
                }
            }
            return false;
        });
        ASSERT_TRUE(found.has_value());
    }
    const CRect rcS = places[nS];
    const int nWidth = rcS.left + n + 108;  // the boxes start 9 units (108) left of the right edge
    const int nHeight = rcS.top + 12;       // the boxes cover the rows from 24 above the bottom

    auto view = MakeView(nWidth, nHeight);
    ASSERT_EQ(view->m_nUnitX, 12);
    ASSERT_EQ(view->m_rcLayoutNo.left, rcS.left + n);
    Key(*view, VK_SPACE);
    places[nS] = Shifted(rcS, 0, 1);
    PlaceAndRedraw(*view, places);
    view->m_nCost = 400;
    Key(*view, VK_END);

    const int nPenalty = 4 * n;
    const int nProfit = 8000 - 400 - nPenalty;
    EXPECT_EQ(view->m_nPenalty, nPenalty);
    EXPECT_EQ(view->m_nBonus, 0);
    EXPECT_EQ(view->m_nProfit, nProfit);
    EXPECT_EQ(view->m_nStage, 3);
    EXPECT_EQ(Results(*view), kPay + kCostLabel + Sp(14) + "400" + kDollars + kPenaltyLabel + Sp(GetParam().nSpaces) +
                                  std::to_string(nPenalty) + Dirt(std::to_string(n)) + kProfitLabel + Sp(26) +
                                  std::to_string(nProfit) + kDollars);
    EXPECT_TRUE(AmountsLinedUp(Results(*view)));
}

INSTANTIATE_TEST_SUITE_P(Scoring, ScoringDirtTest,
                         testing::Values(DirtCase{1, 13}, DirtCase{2, 13}, DirtCase{5, 12}, DirtCase{30, 11}),
                         [](const testing::TestParamInfo<DirtCase>& tpi) {
                             return "Pixels" + std::to_string(tpi.param.nPixels);
                         });

TEST_F(ScoringTest, StoneLeftOffThePatioCostsItsArea)
{
    // A perfect tiling with one stone back at a place off the patio: its
    // whole area shows as dirt, and no perfection test is made.
    const Places tiling = Tiling(true);
    for (int k : {0, 6}) {
        SCOPED_TRACE("stone " + std::to_string(k));
        if (V().m_nStage != 1)
            Key(V(), VK_SPACE);
        Places places = tiling;
        places[k] = V().m_rcLayout[V().m_nLayout][k];
        Score(places, 0);
        const int nArea = tiling[k].Width() * tiling[k].Height();
        EXPECT_EQ(V().m_nPenalty, 4 * nArea);
        EXPECT_EQ(V().m_nBonus, 0);
        const std::string text = Results(V());
        EXPECT_NE(text.find(std::to_string(4 * nArea) + Dirt(std::to_string(nArea))), std::string::npos) << text;
        EXPECT_EQ(text.find("perfect"), std::string::npos);
        EXPECT_TRUE(AmountsLinedUp(text));
    }
}

// ---------------------------------------------------------------------------
// Money lined up for amounts of every length the labels provide for.

struct ColumnCase {
    int nCost;
    std::string expected;  // the text after the pay line
};

void PrintTo(const ColumnCase& cc, std::ostream* os) { *os << "cost " << cc.nCost; }

class ScoringColumnTest : public ScoringTest, public testing::WithParamInterface<ColumnCase> {};

TEST_P(ScoringColumnTest, PerfectJobAmountsLinedUp)
{
    Score(Tiling(true), GetParam().nCost);
    EXPECT_EQ(Results(V()), kPay + GetParam().expected);
    EXPECT_TRUE(AmountsLinedUp(Results(V()), 4));
}

INSTANTIATE_TEST_SUITE_P(Scoring, ScoringColumnTest,
    testing::Values(ColumnCase{10395, kCostLabel + Sp(12) + "10395" + kDollars + kPerfect + kProfitLabel + Sp(29) +
                                          "5" + kDollars},
                    ColumnCase{10350, kCostLabel + Sp(12) + "10350" + kDollars + kPerfect + kProfitLabel + Sp(28) +
                                          "50" + kDollars},
                    ColumnCase{9900, kCostLabel + Sp(13) + "9900" + kDollars + kPerfect + kProfitLabel + Sp(27) +
                                         "500" + kDollars},
                    ColumnCase{402, kCostLabel + Sp(14) + "402" + kDollars + kPerfect + kProfitLabel + Sp(26) +
                                        "9998" + kDollars},
                    ColumnCase{98, kCostLabel + Sp(15) + "98" + kDollars + kPerfect + kProfitLabel + Sp(26) +
                                       "10302" + kDollars},
                    ColumnCase{2, kCostLabel + Sp(16) + "2" + kDollars + kPerfect + kProfitLabel + Sp(26) + "10398" +
                                      kDollars}),
    [](const testing::TestParamInfo<ColumnCase>& tpi) { return "Cost" + std::to_string(tpi.param.nCost); });

// ---------------------------------------------------------------------------
// The total across games.

TEST_F(ScoringTest, TotalLineAcrossGames)
{
    const Places perfect = Tiling(true);
    const Places shared = Tiling(false, SameColourShareEdge);

    // Game 1: the total is the profit, so no total line.
    Score(perfect, 2650);
    EXPECT_EQ(V().m_nTotalProfit, 7750);
    EXPECT_EQ(Results(V()).find("total profit"), std::string::npos);

    // Space starts the next game at once, keeping the total.
    Key(V(), VK_SPACE);
    EXPECT_EQ(V().m_nStage, 1);
    EXPECT_EQ(V().m_nCost, 0);
    EXPECT_EQ(V().m_nPenalty, 0);
    EXPECT_EQ(V().m_nBonus, 0);
    EXPECT_EQ(V().m_nTotalProfit, 7750);

    // Game 2.
    Score(shared, 1000);
    EXPECT_EQ(V().m_nTotalProfit, 14750);
    EXPECT_EQ(Results(V()), kPay + kCostLabel + Sp(13) + "1000" + kDollars + kProfitLabel + Sp(26) + "7000" + kDollars +
                                kTotalLabel + Sp(8) + "14750" + kDollars);
    EXPECT_TRUE(AmountsLinedUp(Results(V())));

    // Game 3, without profit: the total stays, and its line shows.
    Key(V(), VK_SPACE);
    Key(V(), VK_END);
    EXPECT_EQ(V().m_nStage, 2);
    EXPECT_EQ(V().m_nTotalProfit, 14750);
    EXPECT_EQ(Results(V()), kPay + kCostLabel + Sp(16) + "0" + kDollars + kPenaltyLabel + Sp(8) + "635904" +
                                Dirt("158976") + kNoMoney + kTotalLabel + Sp(8) + "14750" + kDollars);
    EXPECT_TRUE(AmountsLinedUp(Results(V()), 6));

    // Game 4.
    Key(V(), VK_SPACE);
    Score(perfect, 10300);
    EXPECT_EQ(V().m_nTotalProfit, 14850);
    EXPECT_EQ(Results(V()), kPay + kCostLabel + Sp(12) + "10300" + kDollars + kPerfect + kProfitLabel + Sp(27) + "100" +
                                kDollars + kTotalLabel + Sp(8) + "14850" + kDollars);
    EXPECT_TRUE(AmountsLinedUp(Results(V())));
}

TEST_F(ScoringTest, TotalLabelForShortTotals)
{
    const Places perfect = Tiling(true);
    struct Game {
        int nCost;
        std::string total;  // the total line expected, or empty
    };
    const Game games[] = {
        {10395, ""},                                       // profit 5, total 5
        {10350, kTotalLabel + Sp(11) + "55" + kDollars},   // profit 50
        {9900, kTotalLabel + Sp(10) + "555" + kDollars},   // profit 500
        {6000, kTotalLabel + Sp(9) + "4955" + kDollars},   // profit 4400
        {4400, kTotalLabel + Sp(8) + "10955" + kDollars},  // profit 6000
    };
    for (const Game& game : games) {
        SCOPED_TRACE("cost " + std::to_string(game.nCost));
        if (V().m_nStage != 1)
            Key(V(), VK_SPACE);
        Score(perfect, game.nCost);
        const std::string text = Results(V());
        ASSERT_GE(text.size(), game.total.size());
        if (game.total.empty())
            EXPECT_EQ(text.find("total profit"), std::string::npos);
        else
            EXPECT_EQ(text.substr(text.size() - game.total.size()), game.total);
        EXPECT_TRUE(AmountsLinedUp(text, 4));
    }
}

// ---------------------------------------------------------------------------
// Scored once.

TEST_F(ScoringTest, EndAgainAndRepaintChangeNothing)
{
    Score(Tiling(true), 2650);
    const std::string text = Results(V());
    const QImage screen = V().FrameBuffer().copy();

    for (int n = 0; n < 2; ++n) {
        if (n == 0)
            Key(V(), VK_END);
        else
            V().Paint();
        EXPECT_EQ(Results(V()), text);
        EXPECT_EQ(V().m_nStage, 3);
        EXPECT_EQ(V().m_nPenalty, 0);
        EXPECT_EQ(V().m_nBonus, 2400);
        EXPECT_EQ(V().m_nProfit, 7750);
        EXPECT_EQ(V().m_nTotalProfit, 7750);
        EXPECT_EQ(V().m_nCost, 2650);
        EXPECT_TRUE(V().FrameBuffer() == screen);
    }
}

TEST_F(ScoringTest, EndAgainAfterNoProfitChangesNothing)
{
    Key(V(), VK_END);
    const std::string text = Results(V());
    Key(V(), VK_END);
    V().Paint();
    EXPECT_EQ(Results(V()), text);
    EXPECT_EQ(V().m_nStage, 2);
    EXPECT_EQ(V().m_nPenalty, 635904);
    EXPECT_EQ(V().m_nTotalProfit, 0);
}

TEST_F(ScoringTest, InstructionsPageDoesNotHideTheBoard)
{
    // Some stones on the patio, the instructions page over the board: the
    // board as the stones lie is scored.
    Places places;
    for (int i = 0; i < NUM_STONES; ++i)
        places[i] = V().m_rcStone[i];
    places[2] = CRect(460, 360, 460 + places[2].Width(), 360 + places[2].Height());
    places[7] = CRect(1002 - places[7].Width(), 638 - places[7].Height(), 1002, 638);
    PlaceAndRedraw(V(), places);
    Key(V(), VK_F1);
    Key(V(), VK_END);
    int nCovered = 0;
    for (int y = kInsideTop; y < kInsideTop + kInsideHeight; ++y)
        for (int x = kInsideLeft; x < kInsideLeft + kInsideWidth; ++x)
            for (int i : {2, 7})
                if (x >= places[i].left && x < places[i].right && y >= places[i].top && y < places[i].bottom) {
                    ++nCovered;
                    break;
                }
    EXPECT_EQ(V().m_nPenalty, 4 * (158976 - nCovered));
    EXPECT_EQ(V().m_nStage, 2);
}

TEST_F(ScoringTest, InstructionsPageDoesNotWithholdBonus)
{
    PlaceAndRedraw(V(), Tiling(true));
    Key(V(), VK_F1);
    Key(V(), VK_END);
    EXPECT_EQ(V().m_nPenalty, 0);
    EXPECT_EQ(V().m_nBonus, 2400);
    EXPECT_EQ(V().m_nStage, 3);
}

// A client area shorter than the patio: the rows below it count as the board
// drawing would show them; the rows on the screen count as they show, the
// prompt line and the status boxes over the patio included.
TEST(ScoringShortClientTest, PatioBelowClientAreaCountsAsDirt)
{
    FixedClock clock(kClock);
    SoundRecorder sound;
    const int nHeight = 600;
    auto view = MakeView(1024, nHeight);
    Key(*view, VK_SPACE);
    int nDirt = 0;
    for (int y = kInsideTop; y < nHeight; ++y)
        for (int x = kInsideLeft; x < kInsideLeft + kInsideWidth; ++x)
            nDirt += PixelAt(*view, x, y) == kDirt;
    EXPECT_GT(nDirt, 552 * 200);
    nDirt += kInsideWidth * (kInsideTop + kInsideHeight - nHeight);
    Key(*view, VK_END);
    EXPECT_EQ(view->m_nPenalty, 4 * nDirt);
}

// The rows a game needs at the smallest width: the prompt line and the status
// panel start below the patio's outline, so End with no stone moved counts
// all of the dirt, and a stone can still reach the patio's last row.
TEST(ScoringShortClientTest, TheRowsAGameNeedsLeaveThePatioUncovered)
{
    FixedClock clock(kClock);
    SoundRecorder sound;
    const int nHeight = CSlabixView().MinClientHeight(1020);
    EXPECT_EQ(nHeight, 640 + 2 * 12);
    auto view = MakeView(1020, nHeight);
    Key(*view, VK_SPACE);
    EXPECT_EQ(view->m_rcCost.top, 640);
    EXPECT_EQ(view->m_rcLayoutNo.top, 640);
    EXPECT_GE(LowestBottom(*view), 639);
    Key(*view, VK_END);
    EXPECT_EQ(view->m_nPenalty, 4 * 158976);
}

TEST(ScoringShortClientTest, PerfectJobBelowClientAreaEarnsBonus)
{
    FixedClock clock(kClock);
    SoundRecorder sound;
    // A perfect tiling, and a client height whose prompt and status rows (the
    // 24 rows above its bottom) hold no pixel the perfection test compares.
    Places perfect{};
    int nHeight = 0;
    {
        auto probe = MakeView(1024, 768);
        auto found = FindTiling(*probe, true, [&](const Places& places) {
            std::vector<bool> bProbeRow(700, false);
            for (const CRect& rc : places)
                for (int y : {rc.top + 1, rc.top + 2, rc.top - 3, rc.bottom - 2, rc.bottom - 3, rc.bottom + 2})
                    bProbeRow[y] = true;
            for (int h = 620; h > 450; --h) {
                if (std::none_of(bProbeRow.begin() + (h - 24), bProbeRow.begin() + h, [](bool b) { return b; })) {
                    nHeight = h;
                    perfect = places;
                    return true;
                }
            }
            return false;
        });
        ASSERT_TRUE(found.has_value());
    }
    auto view = MakeView(1024, nHeight);
    Key(*view, VK_SPACE);
    PlaceAndRedraw(*view, perfect);
    Key(*view, VK_END);
    EXPECT_EQ(view->m_nPenalty, 0);
    EXPECT_EQ(view->m_nBonus, 2400);
    EXPECT_EQ(view->m_nStage, 3);
}

// End after the window shrank and before its repaint: the framebuffer holds
// 600 rows while the view still measures 700. The rows it lost count as the
// board shows them, for the dirt and for the probes of the perfection test.
TEST(ScoringShortClientTest, EndBetweenShrinkAndRepaint)
{
    FixedClock clock(kClock);
    SoundRecorder sound;
    {
        auto view = MakeView(1024, 700);
        Key(*view, VK_SPACE);
        view->SetClientSize(1024, 600);
        Key(*view, VK_END);
        EXPECT_EQ(view->m_nPenalty, 635904);
        EXPECT_EQ(view->m_nStage, 2);
    }
    {
        auto view = MakeView(1024, 700);
        Key(*view, VK_SPACE);
        auto places = FindTiling(*view, true, Any);
        ASSERT_TRUE(places.has_value());
        PlaceAndRedraw(*view, *places);
        view->SetClientSize(1024, 600);
        Key(*view, VK_END);
        EXPECT_EQ(view->m_nPenalty, 0);
        EXPECT_EQ(view->m_nBonus, 2400) << "the probes of the bottom row lie beyond the framebuffer";
    }
}

// ---------------------------------------------------------------------------
// The results screen: at a client width of 1024 with unit 12 the patio
// picture is (235, 36, 789, 326) and the caption starts at (247, 332).

TEST_F(ScoringTest, ResultsScreenPatioPicture)
{
    Key(V(), VK_END);
    const CRect rcPicture(235, 36, 789, 326);
    int nNotBlack = 0, nNotDirt = 0;
    for (int x = rcPicture.left; x < rcPicture.right; ++x) {
        nNotBlack += PixelAt(V(), x, rcPicture.top) != kBlack;
        nNotBlack += PixelAt(V(), x, rcPicture.bottom - 1) != kBlack;
    }
    for (int y = rcPicture.top; y < rcPicture.bottom; ++y) {
        nNotBlack += PixelAt(V(), rcPicture.left, y) != kBlack;
        nNotBlack += PixelAt(V(), rcPicture.right - 1, y) != kBlack;
    }
    for (int y = rcPicture.top + 1; y < rcPicture.bottom - 1; ++y)
        for (int x = rcPicture.left + 1; x < rcPicture.right - 1; ++x)
            nNotDirt += PixelAt(V(), x, y) != kDirt;
    EXPECT_EQ(nNotBlack, 0);
    EXPECT_EQ(nNotDirt, 0);
    // Just outside the outline: the white screen.
    EXPECT_EQ(PixelAt(V(), rcPicture.left - 1, 100), kWhite);
    EXPECT_EQ(PixelAt(V(), rcPicture.right, 100), kWhite);
    EXPECT_EQ(PixelAt(V(), 500, rcPicture.top - 1), kWhite);

    // The caption: green ink starting near (247, 332).
    int nLeft = 100000, nTop = 100000, nInk = 0;
    for (int y = rcPicture.bottom; y < rcPicture.bottom + 40; ++y) {
        for (int x = 0; x < 1024; ++x) {
            const COLORREF cr = PixelAt(V(), x, y);
            const int r = GetRValue(cr), g = GetGValue(cr), b = GetBValue(cr);
            if (cr != kWhite && g > r + 40 && g > b) {
                ++nInk;
                nLeft = std::min(nLeft, x);
                nTop = std::min(nTop, y);
            }
        }
    }
    EXPECT_GT(nInk, 50);
    EXPECT_GE(nLeft, 247);
    EXPECT_LE(nLeft, 250);
    EXPECT_GE(nTop, 332);
    EXPECT_LE(nTop, 336);
}

struct EdgeCase {
    const char* name;
    CRect rcStone;    // stone 5's place on the board
    bool bShown;      // in the picture
};

void PrintTo(const EdgeCase& ec, std::ostream* os) { *os << ec.name; }

const EdgeCase kEdgeCases[] = {
    {"LeftTwoBeyond", CRect(448, 400, 548, 450), true},
    {"LeftThreeBeyond", CRect(447, 400, 547, 450), false},
    {"TopTwoBeyond", CRect(600, 348, 700, 398), true},
    {"TopThreeBeyond", CRect(600, 347, 700, 397), false},
    {"RightTwoBeyond", CRect(906, 400, 1006, 450), true},
    {"RightThreeBeyond", CRect(907, 400, 1007, 450), false},
    {"BottomTwoBeyond", CRect(600, 592, 700, 642), true},
    {"BottomThreeBeyond", CRect(600, 593, 700, 643), false},
};

class ScoringPictureTest : public ScoringTest, public testing::WithParamInterface<EdgeCase> {};

TEST_P(ScoringPictureTest, StoneNearPatioEdge)
{
    const CRect rc = GetParam().rcStone;
    V().m_rcStone[5] = rc;
    Key(V(), VK_SPACE);
    const CPoint probe(rc.left + 50, rc.top + 25);
    const COLORREF crStone = PixelAt(V(), probe.x, probe.y);
    ASSERT_NE(crStone, kDirt);
    Key(V(), VK_END);

    // The picture is the board shifted by (235 - 450, 36 - 350).
    const int dx = 235 - 450, dy = 36 - 350;
    EXPECT_EQ(PixelAt(V(), probe.x + dx, probe.y + dy), GetParam().bShown ? crStone : kDirt);
    // The stone's outline corner, where it lies inside the picture.
    const COLORREF crCorner = PixelAt(V(), rc.left + 50 + dx, (rc.top >= 350 ? rc.top : rc.bottom - 1) + dy);
    EXPECT_EQ(crCorner, GetParam().bShown ? kBlack : kDirt);
}

INSTANTIATE_TEST_SUITE_P(Scoring, ScoringPictureTest, testing::ValuesIn(kEdgeCases),
                         [](const testing::TestParamInfo<EdgeCase>& tpi) { return tpi.param.name; });

}  // namespace
