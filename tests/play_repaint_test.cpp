// The step repaint: after any sequence of steps, by drags and by arrow keys,
// on and off the patio and across its outline, the screen shows exactly what
// a fresh board drawing shows for the same stone places.
#include "tests/BoardKit.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace kit;

namespace {

constexpr crt::time_t kClock = 1700000000;

class RepaintTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_view = MakeView(1024, 768);
        Key(V(), VK_SPACE);
        m_reference = MakeView(1024, 768);
        m_check = std::make_unique<BoardCheck>(V());
    }

    CSlabixView& V() { return *m_view; }

    // Places stones and redraws; from here on the screen is built by steps.
    void Start(const std::array<CRect, NUM_STONES>& rc)
    {
        PlaceAndRedraw(V(), rc);
        m_check = std::make_unique<BoardCheck>(V());
    }

    ::testing::AssertionResult Matches()
    {
        const std::vector<Mismatch> mismatches = m_check->Compare(V(), *m_reference);
        if (mismatches.empty())
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "screen differs from a fresh board: "
                                             << BoardCheck::Describe(mismatches);
    }

    void Select(int i)
    {
        const CPoint c = Centre(V().m_rcStone[i]);
        Down(V(), c);
        Up(V(), c);
    }

    void Keys(UINT key, int n)
    {
        for (int k = 0; k < n; ++k) {
            const CRect before = V().m_rcStone[V().m_nCurStone];
            Key(V(), key);
            m_check->NoteMove(before, V().m_rcStone[V().m_nCurStone]);
        }
    }

    // A drag of stone i: pressed at its centre, one mouse move per leg.
    void Drag(int i, const std::vector<CPoint>& legs)
    {
        CPoint pt = Centre(V().m_rcStone[i]);
        Down(V(), pt);
        for (const CPoint& leg : legs) {
            const CRect before = V().m_rcStone[i];
            pt = Offset(pt, leg.x, leg.y);
            Move(V(), pt);
            m_check->NoteMove(before, V().m_rcStone[i]);
        }
        Up(V(), pt);
    }

    FixedClock m_clock{kClock};
    SoundRecorder m_sound;
    std::unique_ptr<CSlabixView> m_view;
    std::unique_ptr<CSlabixView> m_reference;
    std::unique_ptr<BoardCheck> m_check;
};

// ---------------------------------------------------------------------------
// A 30 x 30 stone over each corner of the patio outline, moved along both
// outline lines, into the patio, out of it and back.

struct Corner {
    const char* name;
    int x;  // the corner pixel of the outline
    int y;
};
void PrintTo(const Corner& corner, std::ostream* os) { *os << corner.name; }
const Corner kCorners[] = {
    {"TopLeft", 450, 350}, {"TopRight", 1003, 350}, {"BottomLeft", 450, 639}, {"BottomRight", 1003, 639}};

class RepaintCornerTest : public RepaintTest, public testing::WithParamInterface<Corner> {
protected:
    void SetUp() override
    {
        RepaintTest::SetUp();
        const Corner& corner = GetParam();
        m_sx = corner.x == 450 ? 1 : -1;  // towards the patio's inside
        m_sy = corner.y == 350 ? 1 : -1;
        auto rc = ParkedPlaces();
        rc[5] = CRect(corner.x - 15, corner.y - 15, corner.x + 15, corner.y + 15);
        Start(rc);
        ASSERT_TRUE(Matches());
    }
    // The legs of the tour, as pixel displacements.
    std::vector<CPoint> Tour() const
    {
        return {{m_sx * 60, 0},  {0, m_sy * 50},  {-m_sx * 60, 0}, {0, -m_sy * 50}, {-m_sx * 4, 0},
                {0, -m_sy * 30}, {m_sx * 4, 0},   {0, m_sy * 30},  {m_sx * 1, 0},  {0, m_sy * 1},
                {-m_sx * 1, 0},  {0, -m_sy * 1},  {m_sx * 25, 0},  {0, m_sy * 17}, {-m_sx * 25, 0},
                {0, -m_sy * 17}};
    }
    int m_sx = 1;
    int m_sy = 1;
};

TEST_P(RepaintCornerTest, ArrowKeysAcrossOutlineCorner)
{
    Select(5);
    int nLeg = 0;
    for (const CPoint& leg : Tour()) {
        const UINT key = leg.x > 0 ? VK_RIGHT : leg.x < 0 ? VK_LEFT : leg.y > 0 ? VK_DOWN : VK_UP;
        Keys(key, std::abs(leg.x) + std::abs(leg.y));
        ASSERT_TRUE(Matches()) << "after leg " << nLeg << ", stone at " << Str(V().m_rcStone[5]);
        ++nLeg;
    }
    EXPECT_EQ(V().m_rcStone[5], CRect(GetParam().x - 15, GetParam().y - 15, GetParam().x + 15, GetParam().y + 15));
    EXPECT_TRUE(m_sound.Played().empty());
}

TEST_P(RepaintCornerTest, DragsAcrossOutlineCorner)
{
    int nLeg = 0;
    for (const CPoint& leg : Tour()) {
        Drag(5, {leg});
        ASSERT_TRUE(Matches()) << "after leg " << nLeg << ", stone at " << Str(V().m_rcStone[5]);
        ++nLeg;
    }
    // Diagonal pointer moves: an L-shaped path each, across the corner.
    Drag(5, {{m_sx * 37, m_sy * 23}, {-m_sx * 40, -m_sy * 41}, {m_sx * 3, m_sy * 18}});
    ASSERT_TRUE(Matches()) << "after diagonal drag, stone at " << Str(V().m_rcStone[5]);
    EXPECT_EQ(V().m_rcStone[5], CRect(GetParam().x - 15, GetParam().y - 15, GetParam().x + 15, GetParam().y + 15));
    EXPECT_TRUE(m_sound.Played().empty());
}

INSTANTIATE_TEST_SUITE_P(Repaint, RepaintCornerTest, testing::ValuesIn(kCorners),
                         [](const testing::TestParamInfo<Corner>& tpi) { return tpi.param.name; });

// ---------------------------------------------------------------------------
// A stone crossing each side of the outline all the way, in and out.

struct Side {
    const char* name;
    CRect rcStart;  // just outside the side
    CPoint across;  // displacement that carries it well inside
};
void PrintTo(const Side& side, std::ostream* os) { *os << side.name; }
const Side kSides[] = {
    {"Left", CRect(360, 450, 440, 500), {150, 0}},
    {"Right", CRect(1005, 450, 1020, 500), {-120, 0}},
    {"Top", CRect(600, 270, 680, 345), {0, 150}},
    {"Bottom", CRect(600, 641, 680, 700), {0, -150}},
};

class RepaintSideTest : public RepaintTest, public testing::WithParamInterface<Side> {};

TEST_P(RepaintSideTest, StoneCrossesOutlineInAndOut)
{
    const Side& side = GetParam();
    auto rc = ParkedPlaces();
    rc[7] = side.rcStart;
    Start(rc);

    Drag(7, {side.across});
    EXPECT_EQ(V().m_rcStone[7], Shifted(side.rcStart, side.across.x, side.across.y));
    ASSERT_TRUE(Matches()) << "in by drag";
    Drag(7, {{-side.across.x, -side.across.y}});
    ASSERT_TRUE(Matches()) << "out by drag";

    Select(7);
    const UINT in = side.across.x > 0 ? VK_RIGHT : side.across.x < 0 ? VK_LEFT : side.across.y > 0 ? VK_DOWN : VK_UP;
    const UINT out = in == VK_RIGHT ? VK_LEFT : in == VK_LEFT ? VK_RIGHT : in == VK_DOWN ? VK_UP : VK_DOWN;
    const int n = std::abs(side.across.x) + std::abs(side.across.y);
    Keys(in, n);
    ASSERT_TRUE(Matches()) << "in by keys";
    Keys(out, n);
    ASSERT_TRUE(Matches()) << "out by keys";
    EXPECT_EQ(V().m_rcStone[7], side.rcStart);
}

INSTANTIATE_TEST_SUITE_P(Repaint, RepaintSideTest, testing::ValuesIn(kSides),
                         [](const testing::TestParamInfo<Side>& tpi) { return tpi.param.name; });

// ---------------------------------------------------------------------------
// Stones tight against each other and against the outline, stepping along
// each other: the neighbour's outline must stay intact.

TEST_F(RepaintTest, StoneSlidesAlongNeighbourOnThePatio)
{
    auto rc = ParkedPlaces();
    rc[3] = CRect(500, 400, 560, 460);
    rc[4] = CRect(560, 430, 600, 470);  // abuts stone 3 on its right
    rc[5] = CRect(451, 600, 520, 639);  // inside, touching the outline at the left and bottom
    Start(rc);
    Select(3);
    Keys(VK_DOWN, 40);
    Keys(VK_RIGHT, 3);  // blocked by stone 4
    Keys(VK_UP, 80);
    ASSERT_TRUE(Matches());
    Select(5);
    Keys(VK_RIGHT, 30);
    Keys(VK_DOWN, 2);
    Keys(VK_UP, 10);
    Keys(VK_LEFT, 31);
    ASSERT_TRUE(Matches());
}

// ---------------------------------------------------------------------------
// Seeded random walks: stones picked at random and moved by keys or drags,
// mostly towards the patio, with the screen checked after every move.

class RepaintWalkTest : public RepaintTest, public testing::WithParamInterface<unsigned> {
protected:
    void Walk(std::mt19937& rng, int nMoves)
    {
        std::uniform_int_distribution<int> stone(0, NUM_STONES - 1);
        for (int nMove = 0; nMove < nMoves; ++nMove) {
            const int i = stone(rng);
            const CPoint c = Centre(V().m_rcStone[i]);
            // Towards the patio's middle more often than away from it.
            const int tx = (c.x < 727 ? 1 : -1) * (rng() % 10 < 7 ? 1 : -1);
            const int ty = (c.y < 495 ? 1 : -1) * (rng() % 10 < 7 ? 1 : -1);
            if (rng() % 2 == 0) {
                Select(i);
                const bool bAcross = rng() % 2 == 0;
                const int n = 1 + static_cast<int>(rng() % 90);
                Keys(bAcross ? (tx > 0 ? VK_RIGHT : VK_LEFT) : (ty > 0 ? VK_DOWN : VK_UP), n);
            } else {
                std::vector<CPoint> legs;
                const int nLegs = 1 + static_cast<int>(rng() % 3);
                for (int k = 0; k < nLegs; ++k) {
                    const int dx = tx * static_cast<int>(rng() % 130);
                    const int dy = ty * static_cast<int>(rng() % 130);
                    switch (rng() % 3) {
                    case 0: legs.push_back({dx, 0}); break;
                    case 1: legs.push_back({0, dy}); break;
                    default: legs.push_back({dx, dy}); break;
                    }
                }
                Drag(i, legs);
            }
            ASSERT_TRUE(Matches()) << "move " << nMove << " of stone " << i << " to " << Str(V().m_rcStone[i]);
            for (int a = 0; a < NUM_STONES; ++a)
                for (int b = a + 1; b < NUM_STONES; ++b)
                    ASSERT_FALSE(Overlap(V().m_rcStone[a], V().m_rcStone[b])) << a << " and " << b;
        }
    }
};

TEST_P(RepaintWalkTest, LayoutStonesWander)
{
    // Stones at their start places.
    std::mt19937 rng(GetParam());
    m_check = std::make_unique<BoardCheck>(V());
    Walk(rng, 90);
}

TEST_P(RepaintWalkTest, SmallStonesAroundTheOutlineWander)
{
    // Twelve small stones strewn over and around the outline.
    std::mt19937 rng(GetParam() * 7919u);
    std::array<CRect, NUM_STONES> rc{};
    const CRect spots[NUM_STONES] = {
        CRect(420, 320, 470, 360),  CRect(600, 330, 660, 370),   CRect(990, 330, 1020, 365),
        CRect(430, 480, 470, 520),  CRect(980, 470, 1015, 530),  CRect(430, 620, 480, 660),
        CRect(700, 625, 760, 655),  CRect(985, 625, 1020, 690),  CRect(700, 450, 760, 500),
        CRect(520, 250, 560, 300),  CRect(820, 680, 880, 720),   CRect(300, 500, 350, 560),
    };
    for (int i = 0; i < NUM_STONES; ++i)
        rc[i] = spots[i];
    Start(rc);
    ASSERT_TRUE(Matches());
    Walk(rng, 110);
}

INSTANTIATE_TEST_SUITE_P(Repaint, RepaintWalkTest, testing::Values(1u, 2u, 3u));

}  // namespace
