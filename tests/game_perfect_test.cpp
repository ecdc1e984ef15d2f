// A perfect job done with the game's own moves, for every layout: the stones
// are carried onto the patio by fork lift, one drag each, along planned
// collision-free paths, and End pays the bonus.
#include "tests/BoardKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using namespace kit;

namespace {

struct MovePlan {
    Places targets{};
    std::vector<int> order;
    std::vector<std::vector<CPoint>> legs;  // per entry of 'order'
};

// Orders in which to carry the stones onto the patio: the places furthest
// from the start area first, then some shuffles.
std::vector<std::vector<int>> CandidateOrders(const Places& targets)
{
    std::vector<int> base(NUM_STONES);
    std::iota(base.begin(), base.end(), 0);
    std::vector<std::vector<int>> orders;
    auto sorted = [&](auto less) {
        std::vector<int> order = base;
        std::stable_sort(order.begin(), order.end(), less);
        orders.push_back(order);
    };
    sorted([&](int a, int b) {
        return targets[a].top != targets[b].top ? targets[a].top > targets[b].top : targets[a].left > targets[b].left;
    });
    sorted([&](int a, int b) {
        return targets[a].left != targets[b].left ? targets[a].left > targets[b].left : targets[a].top > targets[b].top;
    });
    sorted([&](int a, int b) {
        return targets[a].right + targets[a].bottom > targets[b].right + targets[b].bottom;
    });
    std::mt19937 rng(5);
    for (int n = 0; n < 4; ++n) {
        std::vector<int> order = base;
        std::shuffle(order.begin(), order.end(), rng);
        orders.push_back(order);
    }
    return orders;
}

std::optional<MovePlan> PlanMoves(const CSlabixView& view, const Places& targets)
{
    PathPlanner planner(view.m_rcClient.right, LowestBottom(view));
    for (const std::vector<int>& order : CandidateOrders(targets)) {
        MovePlan plan;
        plan.targets = targets;
        plan.order = order;
        Places now;
        for (int i = 0; i < NUM_STONES; ++i)
            now[i] = view.m_rcStone[i];
        bool bStuck = false;
        for (int k : order) {
            std::vector<CRect> obstacles;
            for (int j = 0; j < NUM_STONES; ++j)
                if (j != k)
                    obstacles.push_back(now[j]);
            auto legs = planner.Plan(now[k], CPoint(targets[k].left, targets[k].top), obstacles);
            if (!legs) {
                bStuck = true;
                break;
            }
            plan.legs.push_back(*legs);
            now[k] = targets[k];
        }
        if (!bStuck)
            return plan;
    }
    return std::nullopt;
}

class PerfectArrangementTest : public testing::TestWithParam<int> {};

TEST_P(PerfectArrangementTest, ReachedByOwnMovesEarnsBonus)
{
    const int nLayout = GetParam();
    const crt::time_t tSeed = SeedForLayout(nLayout);
    ASSERT_GE(tSeed, 0) << "no clock second picks layout " << nLayout;
    FixedClock clock(tSeed);
    SoundRecorder sound;
    auto view = MakeView(1600, 1200);
    CSlabixView& v = *view;
    ASSERT_EQ(v.m_nLayout, nLayout);
    Key(v, VK_SPACE);
    ASSERT_EQ(v.m_nStage, 1);

    // A tiling with the colours kept apart, and paths to lay it.
    std::optional<MovePlan> plan;
    const auto sizes = TilingSearch::SizesOf(v);
    for (unsigned nShuffle = 0; nShuffle < 20 && !plan; ++nShuffle) {
        TilingSearch search(sizes, true, nShuffle);
        const auto targets = search.Find([](const Places&) { return true; }, 200000);
        if (targets)
            plan = PlanMoves(v, *targets);
    }
    ASSERT_TRUE(plan.has_value()) << "no perfect tiling could be laid for layout " << nLayout;
    ASSERT_TRUE(ColoursSeparate(plan->targets));

    // Carry each stone over by fork lift: pressed at its centre, one mouse
    // move per straight leg, released at the end.
    for (size_t n = 0; n < plan->order.size(); ++n) {
        const int k = plan->order[n];
        CPoint pt = Centre(v.m_rcStone[k]);
        Down(v, pt);
        ASSERT_EQ(v.m_nCurStone, k);
        ASSERT_EQ(v.m_bDragging, 1);
        for (const CPoint& leg : plan->legs[n]) {
            pt = Offset(pt, leg.x, leg.y);
            Move(v, pt);
            ASSERT_EQ(v.m_bDragging, 1) << "stone " << k << " stopped at " << Str(v.m_rcStone[k]);
        }
        Up(v, pt);
        ASSERT_EQ(v.m_rcStone[k], plan->targets[k]) << "stone " << k;
    }
    EXPECT_TRUE(sound.Played().empty());
    EXPECT_EQ(v.m_nCost, 12 * 200);

    Key(v, VK_END);
    EXPECT_EQ(v.m_nPenalty, 0);
    EXPECT_EQ(v.m_nBonus, 2400);
    EXPECT_EQ(v.m_nProfit, 8000);
    EXPECT_EQ(v.m_nStage, 3);
    const std::string text = v.m_strResults.toStdString();
    EXPECT_NE(text.find("\nYour arrangement is perfect. \nNo stones of the same color are \nnext to each other. "
                        "\nAs a result, you get the bonus of           2400 dollars. "),
              std::string::npos)
        << text;
}

INSTANTIATE_TEST_SUITE_P(Scoring, PerfectArrangementTest, testing::Range(0, NUM_LAYOUTS),
                         [](const testing::TestParamInfo<int>& tpi) { return "Layout" + std::to_string(tpi.param + 1); });

}  // namespace
