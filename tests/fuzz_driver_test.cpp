// The seeded random-input run over the game view, and proof that the
// driver's checks notice a broken board or a broken rule.
#include "tests/fuzz_driver.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

constexpr std::uint64_t kSeed = 20021225;
constexpr long kEvents = 20000;

std::string Joined(const std::vector<std::string>& lines)
{
    std::string str;
    for (const std::string& line : lines)
        str += line + '\n';
    return str;
}

TEST(FuzzDriver, SeededRunKeepsTheRules)
{
    CFuzzDriver driver;
    CInputSource src(kSeed);
    driver.Run(src, kEvents);
    std::printf("fuzz driver: %s\n", driver.Summary().c_str());
    EXPECT_EQ(driver.Events(), kEvents);
    EXPECT_EQ(driver.Violations(), 0) << Joined(driver.Messages());

    // The run reached every part of the game, so the checks had something
    // to check.
    const FuzzCoverage& c = driver.Coverage();
    for (int nStage = 0; nStage < 4; ++nStage)
        EXPECT_GT(c.nStageEvents[nStage], 0) << "no event in stage " << nStage;
    EXPECT_GT(c.nSteps, 10000);
    EXPECT_GT(c.nBoundaryStops, 0);
    EXPECT_GT(c.nCollisionStops, 0);
    EXPECT_GT(c.nCharges, 0);
    EXPECT_GT(c.nScorings, 10);
    EXPECT_GT(c.nProfitable, 0);
    EXPECT_GT(c.nPerfect, 0);
    EXPECT_GT(c.nNewGames, 0);
    EXPECT_GT(c.nPagesPrinted, 0);
    EXPECT_GT(c.nPrintsRefused, 0);
    EXPECT_GT(c.nHalts, 0);
    EXPECT_GT(c.nPathWraps, 0) << "no drag outlasted its record";
    EXPECT_GT(c.nBoardChecks, 500);
}

TEST(FuzzDriver, SameSeedSameRun)
{
    CFuzzDriver first, second;
    CInputSource src1(7), src2(7);
    first.Run(src1, 1000);
    second.Run(src2, 1000);
    EXPECT_EQ(first.Summary(), second.Summary());
    EXPECT_EQ(first.View().m_nStage, second.View().m_nStage);
    EXPECT_EQ(first.View().m_nCost, second.View().m_nCost);
    EXPECT_EQ(first.View().m_nTotalProfit, second.View().m_nTotalProfit);
    for (int i = 0; i < NUM_STONES; ++i)
        EXPECT_EQ(first.View().m_rcStone[i], second.View().m_rcStone[i]) << i;
}

TEST(FuzzDriver, FuzzerBytesAreTheEvents)
{
    std::vector<std::uint8_t> bytes(6000);
    CInputSource gen(99);
    for (auto& b : bytes)
        b = gen.Byte();
    CFuzzDriver driver;
    CInputSource src(bytes.data(), bytes.size());
    driver.Run(src, 1000000);
    EXPECT_TRUE(src.AtEnd());
    EXPECT_GT(driver.Events(), 500);
    EXPECT_LT(driver.Events(), 6000);
    EXPECT_EQ(driver.Violations(), 0) << Joined(driver.Messages());

    CFuzzDriver empty;
    CInputSource none(nullptr, 0);
    empty.Run(none, 1000000);
    EXPECT_EQ(empty.Events(), 0);
}

// The fuzzer's bytes for a fresh game on 1024x768, painted, then two resizes
// before any input, each with the window system's paint: to 800x600 (the
// change notice stops the game) and back to 1024x768 (the title screen comes
// back, the game stays stopped). The driver once took the second paint for a
// halted game starting again.
TEST(FuzzDriver, ResizeAwayAndBackBeforeAnyInput)
{
    const std::vector<std::uint8_t> bytes = {
        2,    0, 0, 0, 1, 1,  // a new game: 1024x768, clock 1, painted
        218,  1, 6,  1,       // resize to 800x600 (listed size 6), with a paint
        218,  1, 1,  1,       // resize to 1024x768 (listed size 1), with a paint
    };
    ASSERT_EQ(bytes.size(), 14u);
    CFuzzDriver driver;
    CInputSource src(bytes.data(), bytes.size());
    driver.Run(src, 1000000);
    EXPECT_EQ(driver.Events(), 2);
    EXPECT_EQ(driver.Coverage().nResizes, 2);
    EXPECT_EQ(driver.Violations(), 0) << Joined(driver.Messages());
    const CSlabixView& v = driver.View();
    EXPECT_EQ(v.m_bHalted, 1);
    EXPECT_EQ(v.m_nStage, 0);
    EXPECT_EQ(v.m_rcFirstClient, CRect(0, 0, 1024, 768));
    EXPECT_EQ(v.m_rcClient, CRect(0, 0, 1024, 768));
    // The title screen again: pale yellow, not the red notice.
    EXPECT_EQ(FromQRgb(v.FrameBuffer().pixel(5, 5)), 0x00B4F0FFu);
}

TEST(FuzzDriver, NoticesABrokenBoard)
{
    CFuzzDriver driver;
    driver.Start(1020, 740, 1000);
    driver.SendKey(VK_SPACE);
    ASSERT_EQ(driver.View().m_nStage, 1);
    EXPECT_EQ(driver.CheckNow(), 0) << Joined(driver.Messages());

    // One pixel of dirt painted black, as a step that forgot the patio would.
    driver.View().FrameBuffer().setPixel(700, 500, ToQRgb(0x00000000));
    EXPECT_GE(driver.CheckNow(), 1);
    ASSERT_FALSE(driver.Messages().empty());
    EXPECT_NE(driver.Messages().back().find("board pixel (700,500)"), std::string::npos)
        << driver.Messages().back();
}

TEST(FuzzDriver, NoticesOverlappingStones)
{
    CFuzzDriver driver;
    driver.Start(1020, 740, 1000);
    driver.SendKey(VK_SPACE);
    CSlabixView& view = driver.View();
    const CRect& rc = view.m_rcStone[0];
    view.m_rcStone[1] = CRect(rc.left + 1, rc.top + 1, rc.left + 1 + view.m_rcStone[1].Width(),
                              rc.top + 1 + view.m_rcStone[1].Height());
    EXPECT_GE(driver.CheckNow(), 1);
    EXPECT_NE(Joined(driver.Messages()).find("overlap"), std::string::npos) << Joined(driver.Messages());
}

TEST(FuzzDriver, NoticesAnUnearnedCharge)
{
    CFuzzDriver driver;
    driver.Start(1020, 740, 1000);
    driver.SendKey(VK_SPACE);
    driver.View().m_nCost += 2;  // no key ever charged this
    driver.SendKey('A');
    EXPECT_GE(driver.Violations(), 1);
    EXPECT_NE(Joined(driver.Messages()).find("cost is 2, expected 0"), std::string::npos)
        << Joined(driver.Messages());
}

}  // namespace
