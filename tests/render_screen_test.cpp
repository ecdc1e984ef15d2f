// Painting: size classes, the screen layout, the notices that halt the game,
// the title screen, the board and the status panel.
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr COLORREF kPaleYellow = 0x00B4F0FF;
constexpr COLORREF kRed = 0x000000FF;
constexpr COLORREF kWhite = 0x00FFFFFF;
constexpr COLORREF kBlack = 0x00000000;

bool IsNearly(COLORREF a, COLORREF b, int nTolerance)
{
    return std::abs(GetRValue(a) - GetRValue(b)) <= nTolerance && std::abs(GetGValue(a) - GetGValue(b)) <= nTolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= nTolerance;
}

class ScreenSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(ScreenSizes, UnitsOrNotice)
{
    const SizeCase& c = GetParam();
    auto pView = MakeView(c.nWidth, c.nHeight);
    EXPECT_EQ(pView->m_rcClient, CRect(0, 0, c.nWidth, c.nHeight));
    if (c.nUnitX == 0) {
        EXPECT_EQ(pView->m_bHalted, 1);
        EXPECT_EQ(pView->m_bScreenReady, 0) << "no layout is made for a refused size";
        EXPECT_EQ(PixelAt(*pView, 0, 0), kRed);
        EXPECT_EQ(PixelAt(*pView, c.nWidth - 1, c.nHeight - 1), kRed);
        // Blue notice text near the top, centred.
        const CRect rcTop(0, 0, c.nWidth, 200);
        int nBlue = 0, nLeft = c.nWidth, nRight = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < c.nWidth; ++x)
                if (PixelAt(*pView, x, y) != kRed) {
                    ++nBlue;
                    nLeft = std::min(nLeft, x);
                    nRight = std::max(nRight, x);
                }
        EXPECT_GT(nBlue, 100);
        EXPECT_LT(std::abs((nLeft + nRight) / 2 - c.nWidth / 2), 30) << "centred";
        return;
    }
    EXPECT_EQ(pView->m_bHalted, 0);
    EXPECT_EQ(pView->m_nUnitX, c.nUnitX);
    EXPECT_EQ(pView->m_nUnitY, c.nUnitY);
    const int Y = c.nUnitY;
    EXPECT_EQ(pView->m_fontNotice.GetHeight(), 8 * Y);
    EXPECT_EQ(pView->m_fontText.GetHeight(), 2 * Y - 2);
    EXPECT_EQ(pView->m_fontSmall.GetHeight(), 3 * Y / 2);
    EXPECT_EQ(pView->m_fontResults.GetHeight(), 5 * Y / 2);
    EXPECT_EQ(pView->m_fontResults.GetFaceName(), "Courier New");
    EXPECT_EQ(pView->m_fontText.GetWeight(), 700);
    EXPECT_EQ(pView->m_fontNotice.GetWeight(), 600);
}

INSTANTIATE_TEST_SUITE_P(Widths, ScreenSizes, testing::ValuesIn(kScreenSizeCases));

TEST(ScreenLayout, RectanglesAt1024)
{
    for (int nHeight : {700, 737}) {
        auto pView = MakeView(1024, nHeight);
        const int B = nHeight;
        EXPECT_EQ(pView->m_rcText, CRect(24, 24, 1000, B - 96));
        EXPECT_EQ(pView->m_rcPrompt, CRect(24, B - 72, 1000, B - 24));
        EXPECT_EQ(pView->m_rcCost, CRect(940, B - 24, 1024, B));
        EXPECT_EQ(pView->m_rcLayoutNo, CRect(916, B - 24, 940, B));
        EXPECT_EQ(pView->m_rcFirstClient, CRect(0, 0, 1024, B));
        EXPECT_EQ(pView->m_fontNotice.GetHeight(), 96);
        EXPECT_EQ(pView->m_fontText.GetHeight(), 22);
        EXPECT_EQ(pView->m_fontSmall.GetHeight(), 18);
        EXPECT_EQ(pView->m_fontResults.GetHeight(), 30);
    }
}

TEST(ScreenLayout, PromptMeasuredInHorizontalUnits)
{
    auto pView = MakeView(1400, 1000);  // X = 14, Y = 14
    EXPECT_EQ(pView->m_rcPrompt, CRect(28, 1000 - 84, 1400 - 28, 1000 - 28));
    auto pShort = MakeView(1400, 900);  // X = 14, Y = 13
    EXPECT_EQ(pShort->m_rcText, CRect(28, 26, 1372, 900 - 104));
    EXPECT_EQ(pShort->m_rcPrompt, CRect(28, 900 - 84, 1372, 900 - 28));
    EXPECT_EQ(pShort->m_rcCost, CRect(1400 - 98, 900 - 26, 1400, 900));
    EXPECT_EQ(pShort->m_rcLayoutNo, CRect(1400 - 126, 900 - 26, 1400 - 98, 900));
}

TEST(ScreenLayout, FontsRemadeOncePerGame)
{
    auto pView = MakeView(1020, 700);
    const auto hText = pView->m_fontText.GetSafeHandle();
    ASSERT_NE(hText, 0u);
    pView->Paint();
    EXPECT_EQ(pView->m_fontText.GetSafeHandle(), hText) << "a later paint keeps the layout";
    pView->SetUpGame(0);
    pView->Paint();
    EXPECT_NE(pView->m_fontText.GetSafeHandle(), hText) << "a new game lays the screen out again";
}

TEST(WindowTitle, StampedAtEveryPaint)
{
    CDocument doc;
    CString strSeen;
    doc.m_fnTitleChanged = [&strSeen](const CString& str) { strSeen = str; };
    CSlabixView view;
    view.SetDocument(&doc);
    view.SetClientSize(1020, 700);
    EXPECT_EQ(doc.GetTitle(), "Untitled");
    for (crt::time_t t : {1000000000, 1000003600}) {
        FixedClock clock(t);
        view.Paint();
        const CString strTime = crt::FormatLocalTime(t, "%c");
        EXPECT_EQ(view.m_timeRun, t);
        EXPECT_EQ(view.m_strRunTime, strTime);
        EXPECT_TRUE(doc.GetTitle().endsWith(" -- " + strTime + " -- Version D605")) << doc.GetTitle().toStdString();
        EXPECT_TRUE(doc.GetTitle().contains("2002"));
        EXPECT_EQ(strSeen, doc.GetTitle());
    }
    // Also on a halted game.
    view.SetClientSize(900, 700);
    FixedClock clock(1000007200);
    view.Paint();
    EXPECT_EQ(view.m_bHalted, 1);
    EXPECT_TRUE(doc.GetTitle().contains(crt::FormatLocalTime(1000007200, "%c")));
}

TEST(TitleScreen, PaleYellowPageWithTextInItsAreas)
{
    auto pView = MakeView(1020, 700);
    const CView& v = *pView;
    EXPECT_EQ(pView->m_nStage, 0);
    EXPECT_EQ(PixelAt(v, 0, 0), kPaleYellow);
    EXPECT_EQ(PixelAt(v, 1019, 699), kPaleYellow);
    EXPECT_EQ(PixelAt(v, 10, 10), kPaleYellow);

    // Black instructions only inside the text area, prompt colour only in the
    // prompt area, nothing elsewhere.
    int nBlack = 0, nPrompt = 0;
    for (int y = 0; y < 700; ++y)
        for (int x = 0; x < 1020; ++x) {
            const COLORREF cr = PixelAt(v, x, y);
            if (cr == kPaleYellow)
                continue;
            const bool bInText = x >= pView->m_rcText.left && x < pView->m_rcText.right &&
                                 y >= pView->m_rcText.top && y < pView->m_rcText.bottom;
            const bool bInPrompt = x >= pView->m_rcPrompt.left && x < pView->m_rcPrompt.right &&
                                   y >= pView->m_rcPrompt.top && y < pView->m_rcPrompt.bottom;
            ASSERT_TRUE(bInText || bInPrompt) << "ink at " << x << "," << y;
            if (bInText && cr == kBlack)
                ++nBlack;
            if (bInPrompt && IsNearly(cr, 0x00C000FF, 8))
                ++nPrompt;
        }
    EXPECT_GT(nBlack, 5000);
    EXPECT_GT(nPrompt, 500);
}

TEST(Notices, ChangedSizeHaltsForGood)
{
    SoundRecorder sounds;
    auto pView = MakeView(1020, 700);
    ASSERT_EQ(pView->m_bScreenReady, 1);
    pView->SetClientSize(1100, 700);
    pView->Paint();
    EXPECT_EQ(pView->m_bHalted, 1);
    EXPECT_EQ(PixelAt(*pView, 500, 650), kRed);
    EXPECT_EQ(pView->m_nUnitX, 12) << "the change check comes before the units";

    // Nothing acts any more.
    const QImage before = pView->FrameBuffer().copy();
    for (UINT nKey : {VK_SPACE, VK_F1, VK_END, VK_LEFT, VK_DOWN})
        pView->OnKeyDown(nKey, 1, 0);
    pView->OnLButtonDown(0, CPoint(100, 50));
    pView->OnMouseMove(0, CPoint(130, 60));
    pView->OnLButtonUp(0, CPoint(130, 60));
    EXPECT_EQ(pView->m_nStage, 0);
    EXPECT_EQ(pView->m_nCost, 0);
    EXPECT_TRUE(pView->FrameBuffer() == before);
    CPrintInfo info;
    EXPECT_FALSE(pView->OnPreparePrinting(&info));
    EXPECT_TRUE(sounds.Played().empty());

    // Back to the first size: the title screen shows again, input stays refused.
    pView->SetClientSize(1020, 700);
    pView->Paint();
    EXPECT_EQ(PixelAt(*pView, 5, 5), kPaleYellow);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    EXPECT_EQ(pView->m_nStage, 0);
    EXPECT_EQ(pView->m_bHalted, 1);
}

// A notice at the first paint: once the size is acceptable the title screen
// is laid out and painted again, but the game stays stopped.
TEST(Notices, TooSmallAtFirstPaintStaysHaltedAtAGoodSize)
{
    auto pView = MakeView(1000, 700);
    EXPECT_EQ(PixelAt(*pView, 500, 650), kRed);
    EXPECT_EQ(pView->m_bHalted, 1);
    pView->SetClientSize(1400, 1000);
    pView->Paint();
    EXPECT_EQ(PixelAt(*pView, 1300, 950), kPaleYellow);
    EXPECT_EQ(pView->m_rcFirstClient, CRect(0, 0, 1400, 1000));
    EXPECT_EQ(pView->m_fontText.GetHeight(), 26) << "the fonts follow the layout";
    EXPECT_EQ(pView->m_bHalted, 1);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    EXPECT_EQ(pView->m_nStage, 0);
}

TEST(Notices, ChangeDuringPlay)
{
    auto pView = MakeView(1020, 700);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    pView->SetClientSize(1020, 690);
    pView->Paint();
    EXPECT_EQ(pView->m_bHalted, 1);
    EXPECT_EQ(PixelAt(*pView, 451, 351), kRed);
    const CRect rcBefore = pView->m_rcStone[0];
    pView->OnKeyDown(VK_RIGHT, 1, 0);
    EXPECT_EQ(pView->m_rcStone[0], rcBefore);
}

// Expected board: white, patio, stones, drawn here pixel by pixel.
QImage ExpectedBoard(const CSlabixView& view, int nWidth, int nHeight)
{
    QImage img(nWidth, nHeight, QImage::Format_RGB32);
    img.fill(ToQRgb(kWhite));
    auto outlined = [&img](const CRect& rc, COLORREF crFill) {
        for (int y = std::max(rc.top, 0); y < std::min(rc.bottom, img.height()); ++y)
            for (int x = std::max(rc.left, 0); x < std::min(rc.right, img.width()); ++x) {
                const bool bEdge = x == rc.left || x == rc.right - 1 || y == rc.top || y == rc.bottom - 1;
                img.setPixel(x, y, ToQRgb(bEdge ? kBlack : crFill));
            }
    };
    outlined(CRect(450, 350, 1004, 640), CR_DIRT);
    for (int i = 0; i < NUM_STONES; ++i)
        outlined(view.m_rcStone[i], g_crStoneColour[i]);
    return img;
}

TEST(Board, PixelsOfPatioAndStones)
{
    for (int nLayout = 0; nLayout < NUM_LAYOUTS; ++nLayout) {
        auto pView = MakeView(1020, 740);
        pView->SetUpGame(0);
        pView->m_nLayout = nLayout;
        for (int i = 0; i < NUM_STONES; ++i)
            pView->m_rcStone[i] = g_rcLayouts[nLayout][i];
        pView->Paint();
        pView->OnKeyDown(VK_SPACE, 1, 0);
        ASSERT_EQ(pView->m_nStage, 1);
        EXPECT_EQ(pView->m_rcPatio, CRect(450, 350, 1004, 640));
        const QImage expected = ExpectedBoard(*pView, 1020, 740);
        const int nPromptTop = 740 - 24;
        for (int y = 0; y < nPromptTop; ++y)
            for (int x = 0; x < 1020; ++x)
                ASSERT_EQ(PixelAt(*pView, x, y), FromQRgb(expected.pixel(x, y)))
                    << "layout " << nLayout << " at " << x << "," << y;
        EXPECT_EQ(PixelAt(*pView, 450, 500), kBlack);
        EXPECT_EQ(PixelAt(*pView, 1003, 500), kBlack);
        EXPECT_EQ(PixelAt(*pView, 700, 350), kBlack);
        EXPECT_EQ(PixelAt(*pView, 700, 639), kBlack);
        EXPECT_EQ(PixelAt(*pView, 1004, 500), kWhite);
        EXPECT_EQ(PixelAt(*pView, 700, 640), kWhite);
        EXPECT_EQ(PixelAt(*pView, 451, 351), CR_DIRT);
        EXPECT_EQ(PixelAt(*pView, 1002, 638), CR_DIRT);
    }
}

TEST(Board, PromptLineAndStatusPanel)
{
    auto pView = MakeView(1020, 740);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    const CRect rcCost = pView->m_rcCost;
    const CRect rcNo = pView->m_rcLayoutNo;
    ASSERT_EQ(rcCost, CRect(936, 716, 1020, 740));
    ASSERT_EQ(rcNo, CRect(912, 716, 936, 740));

    // Cost box: black with the white "0" centred.
    int nWhite = 0, nSumX = 0;
    for (int y = rcCost.top; y < rcCost.bottom; ++y)
        for (int x = rcCost.left; x < rcCost.right; ++x) {
            const COLORREF cr = PixelAt(*pView, x, y);
            EXPECT_EQ(GetRValue(cr), GetBValue(cr)) << "grey only";
            if (cr == kWhite) {
                ++nWhite;
                nSumX += x;
            }
        }
    ASSERT_GT(nWhite, 5);
    EXPECT_NEAR(double(nSumX) / nWhite, (rcCost.left + rcCost.right) / 2.0, 3.0);
    EXPECT_EQ(PixelAt(*pView, rcCost.left, rcCost.top), kBlack);
    EXPECT_EQ(PixelAt(*pView, rcCost.right - 1, rcCost.bottom - 1), kBlack);

    // Layout box: white with the number in a grey only just darker.
    int nGrey = 0;
    for (int y = rcNo.top; y < rcNo.bottom; ++y)
        for (int x = rcNo.left; x < rcNo.right; ++x) {
            const COLORREF cr = PixelAt(*pView, x, y);
            EXPECT_GE(GetRValue(cr), 0xF2);
            nGrey += cr != kWhite;
        }
    EXPECT_GT(nGrey, 5);

    // The prompt line starts at (2X, B - 2Y) in the prompt colour.
    int nPromptInk = 0, nMinX = 1020, nMinY = 740;
    for (int y = 700; y < 740; ++y)
        for (int x = 0; x < 900; ++x)
            if (IsNearly(PixelAt(*pView, x, y), 0x00C000FF, 40)) {
                ++nPromptInk;
                nMinX = std::min(nMinX, x);
                nMinY = std::min(nMinY, y);
            }
    EXPECT_GT(nPromptInk, 200);
    EXPECT_GE(nMinX, 24);
    EXPECT_LE(nMinX, 28);
    EXPECT_GE(nMinY, 716);
    EXPECT_LE(nMinY, 722);

    // A higher cost repaints the box completely.
    pView->m_nCost = 123456;
    pView->DrawStatusPanel();
    int nWhiteNow = 0;
    for (int y = rcCost.top; y < rcCost.bottom; ++y)
        for (int x = rcCost.left; x < rcCost.right; ++x)
            nWhiteNow += PixelAt(*pView, x, y) == kWhite;
    EXPECT_GT(nWhiteNow, 3 * nWhite);
}

}  // namespace
