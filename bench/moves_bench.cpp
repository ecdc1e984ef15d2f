// Stone moves: a fork-lift drag that carries a stone 1,600 pixels in one mouse
// move (the tallest stone of the layouts and a small one), and one hand step.
// The reference writes the pixels the same steps write, straight into an
// image of the same size.
#include "bench/BenchSupport.h"

#include <cstring>

namespace {

constexpr int kWidth = 1596;
constexpr int kHeight = 1150;  // units 16: stones reach down to row 1118
constexpr int kLayout = 2;
constexpr int kTallStone = 11;   // 82 x 288, the tallest stone of all layouts
constexpr int kSmallStone = 0;   // 70 x 48
// One mouse move: 1,330 pixels right, then 270 down (and back the next time).
constexpr int kMoveX = 1330;
constexpr int kMoveY = 270;

// The pixels a step writes: the trailing line, the patio's look where that
// line crossed it, the two outline lines across the motion and the old
// leading line recoloured, for |dx| horizontal then |dy| vertical steps.
void WriteStepPixels(QImage& image, CRect rc, int dx, int dy)
{
    const QRgb white = 0xFFFFFFFF, black = 0xFF000000, dirt = ToQRgb(CR_DIRT), fill = 0xFFB4FFFF;
    const qsizetype nStride = image.bytesPerLine() / 4;
    QRgb* pBits = reinterpret_cast<QRgb*>(image.bits());
    auto column = [&](int x, int top, int bottom, QRgb px) {
        for (int y = top; y < bottom; ++y)
            pBits[y * nStride + x] = px;
    };
    auto row = [&](int y, int left, int right, QRgb px) { std::fill(pBits + y * nStride + left, pBits + y * nStride + right, px); };
    const int sx = dx > 0 ? 1 : -1, sy = dy > 0 ? 1 : -1;
    for (int n = std::abs(dx); n > 0; --n) {
        const int x = sx > 0 ? rc.left : rc.right - 1;
        column(x, rc.top, rc.bottom, white);
        if (x > RC_PATIO.left && x < RC_PATIO.right - 1 && rc.bottom > RC_PATIO.top && rc.top < RC_PATIO.bottom)
            column(x, std::max(rc.top, RC_PATIO.top), std::min(rc.bottom, RC_PATIO.bottom), dirt);
        rc.left += sx;
        rc.right += sx;
        column(rc.left, rc.top, rc.bottom, black);
        column(rc.right - 1, rc.top, rc.bottom, black);
        column(sx > 0 ? rc.right - 2 : rc.left + 1, rc.top + 1, rc.bottom - 1, fill);
    }
    for (int n = std::abs(dy); n > 0; --n) {
        const int y = sy > 0 ? rc.top : rc.bottom - 1;
        row(y, rc.left, rc.right, white);
        if (y > RC_PATIO.top && y < RC_PATIO.bottom - 1 && rc.right > RC_PATIO.left && rc.left < RC_PATIO.right)
            row(y, std::max(rc.left, RC_PATIO.left), std::min(rc.right, RC_PATIO.right), dirt);
        rc.top += sy;
        rc.bottom += sy;
        row(rc.top, rc.left, rc.right, black);
        row(rc.bottom - 1, rc.left, rc.right, black);
        row(sy > 0 ? rc.bottom - 2 : rc.top + 1, rc.left + 1, rc.right - 1, fill);
    }
    benchmark::DoNotOptimize(pBits);
    benchmark::ClobberMemory();
}

CRect Offset(const CRect& rc, int dx, int dy) { return CRect(rc.left + dx, rc.top + dy, rc.right + dx, rc.bottom + dy); }

// A view in play with stone nStone moved to rcStart, in a band of rows that no
// other stone of the layout reaches, and a drag of it under way.
std::unique_ptr<CSlabixView> DragReady(int nStone, const CRect& rcStart, CPoint& ptPress)
{
    auto pView = bench::MakePlayingView(kWidth, kHeight, kLayout);
    pView->m_rcStone[nStone] = rcStart;
    pView->OnKeyDown(VK_SPACE, 1, 0);  // the board again, with the stone there
    ptPress = CPoint(rcStart.left + rcStart.Width() / 2, rcStart.top + rcStart.Height() / 2);
    pView->OnLButtonDown(0, ptPress);
    return pView;
}

void Drag(benchmark::State& state, int nStone, const CRect& rcStart)
{
    CPoint ptPress;
    auto pView = DragReady(nStone, rcStart, ptPress);
    CSlabixView& v = *pView;
    const CPoint ptFar(ptPress.x + kMoveX, ptPress.y + kMoveY);

    // The move must be carried out in full, both ways, without a stop.
    v.OnMouseMove(0, ptFar);
    const bool bThere = v.m_rcStone[nStone] == Offset(rcStart, kMoveX, kMoveY);
    v.OnMouseMove(0, ptPress);
    if (!bThere || v.m_rcStone[nStone] != rcStart || v.m_bDragging != 1 || v.m_nCost != 0) {
        state.SkipWithError("the drag did not carry the stone the whole way");
        return;
    }

    QImage scratch(kWidth, kHeight, QImage::Format_RGB32);
    scratch.fill(Qt::white);
    bool bOut = true;
    const double dRef = bench::MedianMicros([&] {
        WriteStepPixels(scratch, bOut ? rcStart : Offset(rcStart, kMoveX, kMoveY), bOut ? kMoveX : -kMoveX,
                        bOut ? kMoveY : -kMoveY);
        bOut = !bOut;
    });

    bOut = true;
    bench::TimeAgainst(state, [&] {
        v.OnMouseMove(0, bOut ? ptFar : ptPress);
        bOut = !bOut;
    }, dRef);
    if (v.m_nCost != 0 || v.m_bDragging != 1)
        state.SkipWithError("a drag stopped during the measurement");
    state.counters["steps"] = kMoveX + kMoveY;
}

// One mouse move carries the tallest stone 1,600 pixels.
void BM_DragTallStone1600(benchmark::State& state)
{
    Drag(state, kTallStone, CRect(30, 560, 112, 848));
}
BENCHMARK(BM_DragTallStone1600)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same move with a small stone.
void BM_DragSmallStone1600(benchmark::State& state)
{
    Drag(state, kSmallStone, CRect(30, 600, 100, 648));
}
BENCHMARK(BM_DragSmallStone1600)->UseManualTime()->Unit(benchmark::kMillisecond);

// One arrow-key press of the tallest stone: the step, the charge and the
// status panel redrawn. Right and left alternate.
void BM_HandStepTallStone(benchmark::State& state)
{
    auto pView = bench::MakePlayingView(kWidth, kHeight, kLayout);
    CSlabixView& v = *pView;
    const CRect rcStart(500, 560, 582, 848);  // over the patio's edge
    v.m_rcStone[kTallStone] = rcStart;
    v.m_nCurStone = kTallStone;
    v.OnKeyDown(VK_SPACE, 1, 0);

    // The floor: the pixels of one step, and the status panel's pixels
    // copied into place from a drawing of it.
    QImage scratch(kWidth, kHeight, QImage::Format_RGB32);
    scratch.fill(Qt::white);
    const QImage& screen = v.FrameBuffer();
    const CRect rcPanel(v.m_rcLayoutNo.left, v.m_rcCost.top, v.m_rcCost.right, v.m_rcCost.bottom);
    const QImage panel = screen.copy(rcPanel.left, rcPanel.top, rcPanel.Width(), rcPanel.Height());
    bool bRight = true;
    const double dRef = bench::MedianMicrosPer([&] {
        WriteStepPixels(scratch, bRight ? rcStart : Offset(rcStart, 1, 0), bRight ? 1 : -1, 0);
        for (int y = 0; y < panel.height(); ++y)
            std::memcpy(scratch.scanLine(rcPanel.top + y) + 4 * rcPanel.left, panel.constScanLine(y),
                        std::size_t(4 * panel.width()));
        benchmark::ClobberMemory();
        bRight = !bRight;
    }, 64);

    bRight = true;
    // A cost of four digits, as a game's is.
    bench::TimeAgainst(state, [&] {
        v.OnKeyDown(bRight ? VK_RIGHT : VK_LEFT, 1, 0);
        bRight = !bRight;
    }, dRef, [&] { v.m_nCost = 2000; }, 64);
    if (v.m_rcStone[kTallStone] != rcStart && v.m_rcStone[kTallStone] != Offset(rcStart, 1, 0))
        state.SkipWithError("the stone did not step");
}
BENCHMARK(BM_HandStepTallStone)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
