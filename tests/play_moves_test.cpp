// Stone moves on the real view: the one-pixel step with its boundary and
// collision stops and sound cues, fork-lift drags with their charges, the hit
// test, and hand moves by the arrow keys.
#include "tests/BoardKit.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace kit;

namespace {

constexpr crt::time_t kClock = 1700000000;

struct Dir {
    const char* name;
    UINT key;
    int dx;
    int dy;
};
constexpr Dir kRight{"Right", VK_RIGHT, 1, 0};
constexpr Dir kLeft{"Left", VK_LEFT, -1, 0};
constexpr Dir kDown{"Down", VK_DOWN, 0, 1};
constexpr Dir kUp{"Up", VK_UP, 0, -1};
const Dir kDirs[] = {kRight, kLeft, kDown, kUp};

std::string DirName(const testing::TestParamInfo<Dir>& tpi) { return tpi.param.name; }
void PrintTo(const Dir& dir, std::ostream* os) { *os << dir.name; }

// A view in play on a 1024 x 768 client area (units 12), the stones parked
// along the top; tests place the stones they need and redraw.
class MovesTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_view = MakeView(1024, 768);
        Key(V(), VK_SPACE);
        ASSERT_EQ(V().m_nStage, 1);
        ASSERT_EQ(V().m_nUnitY, 12);
        ParkStones(V());
        Key(V(), VK_SPACE);
    }

    CSlabixView& V() { return *m_view; }
    std::vector<int>& Sounds() { return m_sound.Played(); }

    void Put(int i, const CRect& rc)
    {
        V().m_rcStone[i] = rc;
        Key(V(), VK_SPACE);
    }
    // A click on the stone's centre: makes it the current stone, costs nothing.
    void Select(int i)
    {
        const CPoint c = Centre(V().m_rcStone[i]);
        Down(V(), c);
        Up(V(), c);
        ASSERT_EQ(V().m_nCurStone, i);
    }

    FixedClock m_clock{kClock};
    SoundRecorder m_sound;
    std::unique_ptr<CSlabixView> m_view;
};

using Ids = std::vector<int>;

// ---------------------------------------------------------------------------
// Collisions: a stone abutting the leading side and sharing one row (or
// column) blocks; one meeting only at a corner does not.

struct BlockCase {
    Dir dir;
    CRect rcBlocking;  // abuts stone A = (600, 150, 660, 190), sharing one row or column
    CRect rcCorner;    // meets A only at a corner
};

void PrintTo(const BlockCase& bc, std::ostream* os) { *os << bc.dir.name; }

constexpr CRect kA(600, 150, 660, 190);

const BlockCase kBlockCases[] = {
    {kRight, CRect(660, 120, 700, 151), CRect(660, 110, 700, 150)},
    {kLeft, CRect(560, 189, 600, 230), CRect(560, 190, 600, 230)},
    {kDown, CRect(659, 190, 700, 230), CRect(660, 190, 700, 230)},
    {kUp, CRect(560, 110, 601, 150), CRect(560, 110, 600, 150)},
};

class MovesBlockTest : public MovesTest, public testing::WithParamInterface<BlockCase> {};

TEST_P(MovesBlockTest, AbuttingStoneBlocksArrowKeyWithCharge)
{
    const Dir dir = GetParam().dir;
    Put(5, kA);
    Put(6, GetParam().rcBlocking);
    Select(5);

    Key(V(), dir.key);
    EXPECT_EQ(V().m_rcStone[5], kA);
    EXPECT_EQ(V().m_nCost, 2);
    EXPECT_EQ(Sounds(), Ids{101});

    // The other three ways are free.
    for (const Dir& other : kDirs) {
        if (other.key == dir.key)
            continue;
        Sounds().clear();
        Key(V(), other.key);
        EXPECT_EQ(V().m_rcStone[5], Shifted(kA, other.dx, other.dy)) << other.name;
        EXPECT_TRUE(Sounds().empty()) << other.name;
        V().m_rcStone[5] = kA;
        Key(V(), VK_SPACE);
    }
}

TEST_P(MovesBlockTest, AbuttingStoneStopsDragAtOnceWithCharge)
{
    const Dir dir = GetParam().dir;
    Put(5, kA);
    Put(6, GetParam().rcBlocking);

    const CPoint c = Centre(kA);
    Down(V(), c);
    ASSERT_EQ(V().m_bDragging, 1);
    Move(V(), Offset(c, 5 * dir.dx, 5 * dir.dy));
    EXPECT_EQ(V().m_rcStone[5], kA);
    EXPECT_EQ(V().m_bDragging, 0);
    EXPECT_EQ(V().m_nCost, 200);
    EXPECT_EQ(Sounds(), Ids{101});
    Up(V(), Offset(c, 5 * dir.dx, 5 * dir.dy));
    EXPECT_EQ(V().m_nCost, 200);
}

TEST_P(MovesBlockTest, StonesMeetingAtCornerPass)
{
    const Dir dir = GetParam().dir;
    Put(5, kA);
    Put(6, GetParam().rcCorner);
    Select(5);

    Key(V(), dir.key);
    EXPECT_EQ(V().m_rcStone[5], Shifted(kA, dir.dx, dir.dy));
    EXPECT_EQ(V().m_nCost, 2);

    // And a drag carries it on well past the corner.
    const CPoint c = Centre(V().m_rcStone[5]);
    Down(V(), c);
    Move(V(), Offset(c, 45 * dir.dx, 45 * dir.dy));
    EXPECT_EQ(V().m_rcStone[5], Shifted(kA, 46 * dir.dx, 46 * dir.dy));
    EXPECT_EQ(V().m_bDragging, 1);
    EXPECT_TRUE(Sounds().empty());
}

INSTANTIATE_TEST_SUITE_P(Moves, MovesBlockTest, testing::ValuesIn(kBlockCases),
                         [](const testing::TestParamInfo<BlockCase>& tpi) { return tpi.param.dir.name; });

// ---------------------------------------------------------------------------
// Boundary limits: right edge may reach the client width, left stops at 1,
// top at 1, bottom at client bottom - 2 * unit Y + 1 (768 - 24 + 1 = 745).

class MovesBoundaryTest : public MovesTest, public testing::WithParamInterface<Dir> {
protected:
    // A 60 x 40 stone one step short of the limit in the parameter's direction.
    static CRect OneShort(const Dir& dir)
    {
        if (dir.dx > 0)
            return CRect(963, 300, 1023, 340);
        if (dir.dx < 0)
            return CRect(2, 300, 62, 340);
        if (dir.dy > 0)
            return CRect(600, 704, 660, 744);
        return CRect(600, 2, 660, 42);
    }
    // A 60 x 40 stone partly beyond the limit in the parameter's direction.
    static CRect Beyond(const Dir& dir)
    {
        if (dir.dx > 0)
            return CRect(1000, 300, 1060, 340);
        if (dir.dx < 0)
            return CRect(-20, 300, 40, 340);
        if (dir.dy > 0)
            return CRect(600, 730, 660, 770);
        return CRect(600, -15, 660, 25);
    }
    // The edge that leads in the direction, and its limit.
    static int LeadingEdge(const CRect& rc, const Dir& dir)
    {
        return dir.dx > 0 ? rc.right : dir.dx < 0 ? rc.left : dir.dy > 0 ? rc.bottom : rc.top;
    }
    static int Limit(const Dir& dir) { return dir.dx > 0 ? 1024 : dir.dy > 0 ? 745 : 1; }
};

TEST_P(MovesBoundaryTest, ArrowKeyReachesLimitThenStopsFreeOfCharge)
{
    const Dir dir = GetParam();
    const CRect rcStart = OneShort(dir);
    Put(5, rcStart);
    Select(5);

    Key(V(), dir.key);
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcStart, dir.dx, dir.dy));
    EXPECT_EQ(LeadingEdge(V().m_rcStone[5], dir), Limit(dir));
    EXPECT_EQ(V().m_nCost, 2);
    EXPECT_TRUE(Sounds().empty());

    Key(V(), dir.key);
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcStart, dir.dx, dir.dy));
    EXPECT_EQ(V().m_nCost, 2);
    EXPECT_EQ(Sounds(), Ids{102});
}

TEST_P(MovesBoundaryTest, DragStopsAtLimitFreeOfCharge)
{
    const Dir dir = GetParam();
    const CRect rcStart = OneShort(dir);
    Put(5, Shifted(rcStart, -20 * dir.dx, -20 * dir.dy));

    const CPoint c = Centre(V().m_rcStone[5]);
    Down(V(), c);
    Move(V(), Offset(c, 50 * dir.dx, 50 * dir.dy));
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcStart, dir.dx, dir.dy));
    EXPECT_EQ(V().m_bDragging, 0);
    EXPECT_EQ(Sounds(), Ids{102});
    // The drag is over: further moves leave the stone alone.
    Move(V(), Offset(c, -30 * dir.dx, -30 * dir.dy));
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcStart, dir.dx, dir.dy));
    Up(V(), Offset(c, -30 * dir.dx, -30 * dir.dy));
    EXPECT_EQ(V().m_nCost, 0);
}

TEST_P(MovesBoundaryTest, StonePartlyBeyondLimitStepsOnlyTheOtherWays)
{
    const Dir dir = GetParam();
    const CRect rcStart = Beyond(dir);
    for (const Dir& way : kDirs) {
        Sounds().clear();
        Put(5, rcStart);
        Select(5);
        Key(V(), way.key);
        if (way.key == dir.key) {
            EXPECT_EQ(V().m_rcStone[5], rcStart) << way.name;
            EXPECT_EQ(Sounds(), Ids{102}) << way.name;
        } else {
            EXPECT_EQ(V().m_rcStone[5], Shifted(rcStart, way.dx, way.dy)) << way.name;
            EXPECT_TRUE(Sounds().empty()) << way.name;
        }
    }
}

TEST_P(MovesBoundaryTest, BoundaryWinsOverCollision)
{
    // A stone at the limit with another stone right against it beyond the
    // limit: the boundary decides, so no hand charge and sound 102.
    const Dir dir = GetParam();
    const CRect rcAtLimit = Shifted(OneShort(dir), dir.dx, dir.dy);
    const CRect rcBeyond = dir.dx != 0 ? CRect(dir.dx > 0 ? rcAtLimit.right : rcAtLimit.left - 30, rcAtLimit.top,
                                               dir.dx > 0 ? rcAtLimit.right + 30 : rcAtLimit.left, rcAtLimit.bottom)
                                       : CRect(rcAtLimit.left, dir.dy > 0 ? rcAtLimit.bottom : rcAtLimit.top - 20,
                                               rcAtLimit.right, dir.dy > 0 ? rcAtLimit.bottom + 20 : rcAtLimit.top);
    Put(5, rcAtLimit);
    Put(6, rcBeyond);
    Select(5);

    Key(V(), dir.key);
    EXPECT_EQ(V().m_rcStone[5], rcAtLimit);
    EXPECT_EQ(V().m_nCost, 0);
    EXPECT_EQ(Sounds(), Ids{102});

    Sounds().clear();
    const CPoint c = Centre(rcAtLimit);
    Down(V(), c);
    Move(V(), Offset(c, 3 * dir.dx, 3 * dir.dy));
    EXPECT_EQ(V().m_rcStone[5], rcAtLimit);
    EXPECT_EQ(V().m_nCost, 0);
    EXPECT_EQ(Sounds(), Ids{102});
    Up(V(), Offset(c, 3 * dir.dx, 3 * dir.dy));
    EXPECT_EQ(V().m_nCost, 0);
}

INSTANTIATE_TEST_SUITE_P(Moves, MovesBoundaryTest, testing::ValuesIn(kDirs), DirName);

// ---------------------------------------------------------------------------
// Sound cues: 101 for a collision, 102 for the boundary, nothing for a step,
// whichever input made the step.

struct SoundCase {
    const char* name;
    bool bByKey;
    CRect rcOther;  // stone 6; stone 5 lies at (600, 2, 660, 42), at the top limit
    UINT key;       // arrow key, or the direction of a 1-pixel drag
    Ids expected;
};

void PrintTo(const SoundCase& sc, std::ostream* os) { *os << sc.name; }

const SoundCase kSoundCases[] = {
    {"KeyCollision", true, CRect(660, 10, 700, 30), VK_RIGHT, {101}},
    {"KeyBoundary", true, CRect(660, 10, 700, 30), VK_UP, {102}},
    {"KeyStep", true, CRect(660, 10, 700, 30), VK_DOWN, {}},
    {"DragCollision", false, CRect(660, 10, 700, 30), VK_RIGHT, {101}},
    {"DragBoundary", false, CRect(660, 10, 700, 30), VK_UP, {102}},
    {"DragStep", false, CRect(660, 10, 700, 30), VK_LEFT, {}},
};

class MovesSoundTest : public MovesTest, public testing::WithParamInterface<SoundCase> {};

TEST_P(MovesSoundTest, CueMatchesTheKindOfStop)
{
    const SoundCase& sc = GetParam();
    Put(5, CRect(600, 1, 660, 41));
    Put(6, sc.rcOther);
    Select(5);
    const CRect rcBefore = V().m_rcStone[5];
    const int dx = sc.key == VK_RIGHT ? 1 : sc.key == VK_LEFT ? -1 : 0;
    const int dy = sc.key == VK_DOWN ? 1 : sc.key == VK_UP ? -1 : 0;
    if (sc.bByKey) {
        Key(V(), sc.key);
    } else {
        const CPoint c = Centre(rcBefore);
        Down(V(), c);
        Move(V(), Offset(c, dx, dy));
        Up(V(), Offset(c, dx, dy));
    }
    EXPECT_EQ(Sounds(), sc.expected);
    const bool bMoved = sc.expected.empty();
    EXPECT_EQ(V().m_rcStone[5], bMoved ? Shifted(rcBefore, dx, dy) : rcBefore);
}

INSTANTIATE_TEST_SUITE_P(Moves, MovesSoundTest, testing::ValuesIn(kSoundCases),
                         [](const testing::TestParamInfo<SoundCase>& tpi) { return tpi.param.name; });

// ---------------------------------------------------------------------------
// Fork lift

TEST_F(MovesTest, FastDiagonalMoveTakesHorizontalLegFirstAndStopsAtCollision)
{
    // 40 right and 30 down in one message, with a stone 10 pixels to the right
    // sharing rows: 10 steps right, the 11th is a collision stop.
    const CRect rcA(500, 100, 560, 140);
    Put(5, rcA);
    Put(6, CRect(570, 120, 600, 160));
    const CPoint c = Centre(rcA);
    Down(V(), c);
    Move(V(), Offset(c, 40, 30));
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcA, 10, 0));
    EXPECT_EQ(V().m_nStepX, 40);
    EXPECT_EQ(V().m_nStepY, 30);
    EXPECT_EQ(V().m_nCost, 200);
    EXPECT_EQ(V().m_bDragging, 0);
    EXPECT_EQ(Sounds(), Ids{101});
    Up(V(), Offset(c, 40, 30));
    EXPECT_EQ(V().m_nCost, 200);
}

TEST_F(MovesTest, DiagonalMoveWithoutObstacleFollowsPointer)
{
    const CRect rcA(500, 100, 560, 140);
    Put(5, rcA);
    const CPoint c = Centre(rcA);
    Down(V(), c);
    Move(V(), Offset(c, 40, 30));
    Move(V(), Offset(c, 13, 77));
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcA, 13, 77));
    EXPECT_EQ(V().m_bDragging, 1);
    EXPECT_TRUE(Sounds().empty());
}

// What a drag costs, by the way it ends. Stone 5 = (500, 150, 560, 190), the
// pointer pressed at its centre c = (530, 170); stone 6 = (600, 150, 640, 190)
// lies 40 pixels to its right.
struct ChargeCase {
    const char* name;
    std::function<void(CSlabixView&, CPoint)> run;
    int nCost;
    CRect rcEnd;  // where stone 5 ends
};

void PrintTo(const ChargeCase& cc, std::ostream* os) { *os << cc.name; }

const ChargeCase kChargeCases[] = {
    {"ClickAtPressPoint",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Up(v, c);
     },
     0, CRect(500, 150, 560, 190)},
    {"PointerBroughtBackToPressPoint",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Move(v, Offset(c, 15, 8));
         Move(v, c);
         Up(v, c);
     },
     0, CRect(500, 150, 560, 190)},
    {"ReleaseElsewhere",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Move(v, Offset(c, 15, 8));
         Up(v, Offset(c, 15, 8));
     },
     200, CRect(515, 158, 575, 198)},
    {"ReleaseElsewhereWithoutMouseMove",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Up(v, Offset(c, 3, 0));
     },
     200, CRect(500, 150, 560, 190)},
    {"CollisionChargesAtOnceAndReleaseAddsNothing",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Move(v, Offset(c, 60, 0));
         EXPECT_EQ(v.m_nCost, 200);
         Up(v, Offset(c, 60, 0));
     },
     200, CRect(540, 150, 600, 190)},
    {"BoundaryStop",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Move(v, Offset(c, 0, -300));
         Up(v, Offset(c, 0, -300));
     },
     0, CRect(500, 1, 560, 41)},
    {"ArrowKeyCollisionStopDuringDrag",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Move(v, Offset(c, 39, 0));
         Key(v, VK_RIGHT);  // reaches stone 6: 2 dollars
         Key(v, VK_RIGHT);  // blocked: 2 dollars, the drag is over
         EXPECT_EQ(v.m_bDragging, 0);
         Move(v, Offset(c, 38, 40));
         Up(v, Offset(c, 38, 40));
     },
     4, CRect(540, 150, 600, 190)},
    {"ArrowKeyBoundaryStopDuringDrag",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Move(v, Offset(c, 0, -149));
         Key(v, VK_UP);  // at the top limit: free, and the drag is over
         EXPECT_EQ(v.m_bDragging, 0);
         Up(v, Offset(c, 0, -149));
     },
     0, CRect(500, 1, 560, 41)},
    {"NextButtonDownOnStoneWithoutButtonUp",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Move(v, Offset(c, 15, 0));
         Down(v, Offset(c, 15, 0));
         EXPECT_EQ(v.m_bDragging, 1);
         Up(v, Offset(c, 15, 0));
     },
     0, CRect(515, 150, 575, 190)},
    {"NextButtonDownOnBareGroundWithoutButtonUp",
     [](CSlabixView& v, CPoint c) {
         Down(v, c);
         Move(v, Offset(c, 15, 0));
         Down(v, CPoint(800, 250));
         EXPECT_EQ(v.m_bDragging, 0);
         EXPECT_EQ(v.m_nCurStone, 0);
         Up(v, CPoint(800, 250));
     },
     0, CRect(515, 150, 575, 190)},
};

class MovesChargeTest : public MovesTest, public testing::WithParamInterface<ChargeCase> {};

TEST_P(MovesChargeTest, DragCostsByTheWayItEnds)
{
    Put(5, CRect(500, 150, 560, 190));
    Put(6, CRect(600, 150, 640, 190));
    GetParam().run(V(), CPoint(530, 170));
    EXPECT_EQ(V().m_nCost, GetParam().nCost);
    EXPECT_EQ(V().m_rcStone[5], GetParam().rcEnd);
    EXPECT_EQ(V().m_bDragging, 0);
}

INSTANTIATE_TEST_SUITE_P(Moves, MovesChargeTest, testing::ValuesIn(kChargeCases),
                         [](const testing::TestParamInfo<ChargeCase>& tpi) { return tpi.param.name; });

// The hit test is strict: the left column and the top row of a stone miss it,
// the right column and the bottom row hit it. Stone 5 = (500, 150, 560, 190).
struct HitCase {
    const char* name;
    CPoint point;
    bool bHit;
};

void PrintTo(const HitCase& hc, std::ostream* os) { *os << hc.name; }

const HitCase kHitCases[] = {
    {"TopLeftCorner", CPoint(500, 150), false},
    {"LeftColumn", CPoint(500, 170), false},
    {"TopRow", CPoint(530, 150), false},
    {"JustInsideTopLeft", CPoint(501, 151), true},
    {"RightColumn", CPoint(559, 170), true},
    {"BottomRow", CPoint(530, 189), true},
    {"BottomRightCorner", CPoint(559, 189), true},
    {"JustRightOfStone", CPoint(560, 170), false},
    {"JustBelowStone", CPoint(530, 190), false},
};

class MovesHitTest : public MovesTest, public testing::WithParamInterface<HitCase> {};

TEST_P(MovesHitTest, PressSelectsStoneOnlyStrictlyInside)
{
    Put(5, CRect(500, 150, 560, 190));
    Select(5);
    const HitCase& hc = GetParam();
    Down(V(), hc.point);
    if (hc.bHit) {
        EXPECT_EQ(V().m_nCurStone, 5);
        EXPECT_EQ(V().m_bDragging, 1);
        EXPECT_EQ(V().m_nPathLen[5], 0);
        EXPECT_EQ(V().m_ptPath[5][0], hc.point);
    } else {
        // Nothing hit: stone 0 becomes current and no drag starts.
        EXPECT_EQ(V().m_nCurStone, 0);
        EXPECT_EQ(V().m_bDragging, 0);
        const CRect rcZero = V().m_rcStone[0];
        Move(V(), Offset(hc.point, 20, 20));
        EXPECT_EQ(V().m_rcStone[0], rcZero);
        EXPECT_EQ(V().m_rcStone[5], CRect(500, 150, 560, 190));
        Up(V(), Offset(hc.point, 20, 20));
        EXPECT_EQ(V().m_nCost, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Moves, MovesHitTest, testing::ValuesIn(kHitCases),
                         [](const testing::TestParamInfo<HitCase>& tpi) { return tpi.param.name; });

TEST_F(MovesTest, PressFindsStoneByIndexWhenCurrentStoneMissed)
{
    Put(5, CRect(500, 150, 560, 190));
    Put(9, CRect(700, 150, 760, 190));
    Select(5);
    Down(V(), CPoint(730, 170));
    EXPECT_EQ(V().m_nCurStone, 9);
    EXPECT_EQ(V().m_bDragging, 1);
}

TEST_F(MovesTest, LongDragKeepsWorkingWithinItsRecord)
{
    const CRect rcA(500, 150, 560, 190);
    Put(5, rcA);
    // Marks in every other stone's record, to see that nothing spills over.
    for (int j = 0; j < NUM_STONES; ++j) {
        if (j == 5)
            continue;
        V().m_nPathLen[j] = 100 + j;
        for (int n = 0; n < PATH_POINTS; ++n)
            V().m_ptPath[j][n] = CPoint(-7000 - j, n);
    }

    const CPoint c = Centre(rcA);
    Down(V(), c);
    int nLongest = 0;
    bool bDropped = false;
    for (int n = 0; n < 5000; ++n) {
        Move(V(), n % 2 == 0 ? Offset(c, 1, 0) : c);
        nLongest = std::max(nLongest, V().m_nPathLen[5]);
        bDropped = bDropped || V().m_bDragging != 1;
        const CRect rcWant = n % 2 == 0 ? Shifted(rcA, 1, 0) : rcA;
        if (V().m_rcStone[5] != rcWant) {
            ADD_FAILURE() << "move " << n << ": stone at " << Str(V().m_rcStone[5]);
            break;
        }
    }
    EXPECT_LT(nLongest, PATH_POINTS);
    EXPECT_FALSE(bDropped);

    Move(V(), Offset(c, 7, 5));
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcA, 7, 5));
    EXPECT_EQ(V().m_ptPath[5][0], c);
    EXPECT_EQ(V().m_ptPath[5][V().m_nPathLen[5]], Offset(c, 7, 5));
    EXPECT_TRUE(Sounds().empty());

    for (int j = 0; j < NUM_STONES; ++j) {
        if (j == 5)
            continue;
        EXPECT_EQ(V().m_nPathLen[j], 100 + j) << "stone " << j;
        int nSpoilt = 0;
        for (int n = 0; n < PATH_POINTS; ++n)
            nSpoilt += V().m_ptPath[j][n] != CPoint(-7000 - j, n);
        EXPECT_EQ(nSpoilt, 0) << "stone " << j;
    }

    // Released away from the press point: one fork-lift move.
    Up(V(), Offset(c, 7, 5));
    EXPECT_EQ(V().m_nCost, 200);
}

// ---------------------------------------------------------------------------
// Mouse input outside play, or once the game is halted, is ignored entirely.

enum class Situation { Title, Results, Halted, ScoredDuringDrag };

class MovesIgnoredTest : public testing::TestWithParam<Situation> {};

TEST_P(MovesIgnoredTest, MouseChangesNothing)
{
    FixedClock clock(kClock);
    SoundRecorder sound;
    auto view = MakeView(1024, 768);
    CSlabixView& v = *view;
    const int nStone = 4;
    switch (GetParam()) {
    case Situation::Title:
        break;
    case Situation::Results:
        Key(v, VK_SPACE);
        Key(v, VK_END);
        break;
    case Situation::Halted:
        Key(v, VK_SPACE);
        Down(v, Centre(v.m_rcStone[nStone]));
        ASSERT_EQ(v.m_bDragging, 1);
        v.SetClientSize(1100, 768);
        v.Paint();
        ASSERT_EQ(v.m_bHalted, 1);
        break;
    case Situation::ScoredDuringDrag:
        Key(v, VK_SPACE);
        Down(v, Centre(v.m_rcStone[nStone]));
        ASSERT_EQ(v.m_bDragging, 1);
        Key(v, VK_END);
        break;
    }

    const QImage before = v.FrameBuffer().copy();
    const int nStage = v.m_nStage;
    const int nCost = v.m_nCost;
    const int nCurStone = v.m_nCurStone;
    const int nDragging = v.m_bDragging;
    std::array<CRect, NUM_STONES> rcBefore;
    for (int i = 0; i < NUM_STONES; ++i)
        rcBefore[i] = v.m_rcStone[i];

    const CPoint c = Centre(v.m_rcStone[nStone]);
    Move(v, Offset(c, 30, 20));
    Down(v, c);
    Move(v, Offset(c, 50, 40));
    Up(v, Offset(c, 50, 40));
    Down(v, Centre(v.m_rcStone[7]));
    Up(v, Offset(Centre(v.m_rcStone[7]), 9, 9));

    EXPECT_TRUE(v.FrameBuffer() == before);
    EXPECT_EQ(v.m_nStage, nStage);
    EXPECT_EQ(v.m_nCost, nCost);
    EXPECT_EQ(v.m_nCurStone, nCurStone);
    EXPECT_EQ(v.m_bDragging, nDragging);
    for (int i = 0; i < NUM_STONES; ++i)
        EXPECT_EQ(v.m_rcStone[i], rcBefore[i]) << "stone " << i;
    EXPECT_TRUE(sound.Played().empty());
}

INSTANTIATE_TEST_SUITE_P(Moves, MovesIgnoredTest,
                         testing::Values(Situation::Title, Situation::Results, Situation::Halted,
                                         Situation::ScoredDuringDrag),
                         [](const testing::TestParamInfo<Situation>& tpi) {
                             switch (tpi.param) {
                             case Situation::Title: return std::string("Title");
                             case Situation::Results: return std::string("Results");
                             case Situation::Halted: return std::string("Halted");
                             case Situation::ScoredDuringDrag: return std::string("ScoredDuringDrag");
                             }
                             return std::string("Unknown");
                         });

// ---------------------------------------------------------------------------
// Hand moves

// True when the pixels of rc are the same in both views.
bool SameArea(const CSlabixView& a, const CSlabixView& b, const CRect& rc)
{
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x)
            if (Pixel(a.FrameBuffer(), x, y) != Pixel(b.FrameBuffer(), x, y))
                return false;
    return true;
}

TEST_F(MovesTest, ArrowKeyAgainstStoneChargesAndShowsIt)
{
    Put(5, CRect(500, 150, 560, 190));
    Put(6, CRect(560, 170, 600, 210));
    Select(5);
    const QImage before = V().FrameBuffer().copy();

    Key(V(), VK_RIGHT);
    EXPECT_EQ(V().m_rcStone[5], CRect(500, 150, 560, 190));
    EXPECT_EQ(V().m_nCost, 2);
    EXPECT_EQ(Sounds(), Ids{101});

    // The cost box now shows what a board drawn with a cost of 2 shows, and
    // no longer what it showed before.
    auto reference = MakeView(1024, 768);
    reference->m_nCost = 2;
    reference->m_nLayout = V().m_nLayout;
    Key(*reference, VK_SPACE);
    EXPECT_TRUE(SameArea(V(), *reference, V().m_rcCost));
    bool bChanged = false;
    for (int y = V().m_rcCost.top; y < V().m_rcCost.bottom && !bChanged; ++y)
        for (int x = V().m_rcCost.left; x < V().m_rcCost.right && !bChanged; ++x)
            bChanged = Pixel(before, x, y) != PixelAt(V(), x, y);
    EXPECT_TRUE(bChanged);
}

TEST_F(MovesTest, TenRightPressesMoveTenPixelsForTwentyDollars)
{
    const CRect rcA(500, 150, 560, 190);
    Put(5, rcA);
    Select(5);
    for (int n = 0; n < 10; ++n)
        Key(V(), VK_RIGHT);
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcA, 10, 0));
    EXPECT_EQ(V().m_nCost, 20);
    EXPECT_TRUE(Sounds().empty());
}

TEST_F(MovesTest, ArrowKeysMoveStoneZeroBeforeAnyClick)
{
    const CRect rcZero = V().m_rcStone[0];
    ASSERT_EQ(V().m_nCurStone, 0);
    Key(V(), VK_DOWN);
    Key(V(), VK_DOWN);
    Key(V(), VK_RIGHT);
    EXPECT_EQ(V().m_rcStone[0], Shifted(rcZero, 1, 2));
    EXPECT_EQ(V().m_nCost, 6);
}

TEST_F(MovesTest, ArrowKeyDuringDragMovesTheDraggedStone)
{
    const CRect rcA(500, 150, 560, 190);
    Put(5, rcA);
    const CRect rcZero = V().m_rcStone[0];
    const CPoint c = Centre(rcA);
    Down(V(), c);
    Key(V(), VK_RIGHT);
    Key(V(), VK_DOWN);
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcA, 1, 1));
    EXPECT_EQ(V().m_rcStone[0], rcZero);
    EXPECT_EQ(V().m_bDragging, 1);
    EXPECT_EQ(V().m_nCost, 4);

    // The drag goes on from where the pointer was.
    Move(V(), Offset(c, 10, 0));
    EXPECT_EQ(V().m_rcStone[5], Shifted(rcA, 11, 1));
    Up(V(), Offset(c, 10, 0));
    EXPECT_EQ(V().m_nCost, 204);
}

TEST_F(MovesTest, ArrowKeysIgnoredOutsidePlay)
{
    Key(V(), VK_END);
    const int nStage = V().m_nStage;
    const CRect rcZero = V().m_rcStone[0];
    const QImage before = V().FrameBuffer().copy();
    for (UINT key : {VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN})
        Key(V(), key);
    EXPECT_EQ(V().m_rcStone[0], rcZero);
    EXPECT_EQ(V().m_nStage, nStage);
    EXPECT_TRUE(V().FrameBuffer() == before);
    EXPECT_TRUE(Sounds().empty());
}

}  // namespace
