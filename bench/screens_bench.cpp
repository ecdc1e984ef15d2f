// Whole screens: the End command from key-down to the drawn results screen, a
// full paint of each screen at the smallest and the largest client size, and
// the printed page at 300 dots per inch. The reference copies the target's
// bytes once.
#include "bench/BenchSupport.h"

#include <QPainter>

namespace {

// A perfect arrangement of layout 2: the patio fully covered, the bonus paid.
constexpr CRect kLayout2Solution[NUM_STONES] = {
    {853, 591, 923, 639}, {923, 591, 1003, 639}, {773, 543, 853, 639}, {693, 495, 773, 639},
    {613, 447, 693, 639}, {853, 543, 1003, 591}, {773, 495, 1003, 543}, {693, 447, 1003, 495},
    {613, 399, 1003, 447}, {533, 351, 1003, 399}, {533, 399, 613, 639}, {451, 351, 533, 639},
};

// End in play, from the board as the player left it: every stone at its start
// place (all dirt counted) or the perfect arrangement (the bonus probes).
void End(benchmark::State& state, bool bPerfect)
{
    auto pView = bench::MakePlayingView(1020, 700, 2);
    CSlabixView& v = *pView;
    if (bPerfect)
        std::copy(std::begin(kLayout2Solution), std::end(kLayout2Solution), v.m_rcStone);
    auto backToPlay = [&v] {
        v.m_nStage = 1;
        v.m_nPenalty = 0;
        v.m_nBonus = 0;
        v.m_nTotalProfit = 0;
        v.OnKeyDown(VK_SPACE, 1, 0);  // the board on the screen again
    };
    backToPlay();
    v.OnKeyDown(VK_END, 1, 0);
    if (v.m_nBonus != (bPerfect ? 2400 : 0) || v.m_nStage != (bPerfect ? 3 : 2)) {
        state.SkipWithError("End did not score the board as set up");
        return;
    }
    bench::CFrameCopy copy(v.FrameBuffer());
    bench::TimeAgainst(state, [&v] { v.OnKeyDown(VK_END, 1, 0); }, bench::MedianMicros(copy), backToPlay);
}

void BM_EndAllDirt(benchmark::State& state) { End(state, false); }
BENCHMARK(BM_EndAllDirt)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_EndPerfect(benchmark::State& state) { End(state, true); }
BENCHMARK(BM_EndPerfect)->UseManualTime()->Unit(benchmark::kMillisecond);

// A full paint (erase and OnDraw) of the screen of a stage: 0 the title and
// instructions, 1 the board, 3 the results.
void BM_Paint(benchmark::State& state)
{
    const int nWidth = int(state.range(0)), nHeight = int(state.range(1)), nStage = int(state.range(2));
    auto pView = bench::MakeView(nWidth, nHeight, 0);
    CSlabixView& v = *pView;
    if (nStage >= 1)
        v.OnKeyDown(VK_SPACE, 1, 0);
    if (nStage == 3) {
        // A profitable job: the total line and the bonus lines are drawn too.
        v.OnKeyDown(VK_END, 1, 0);
        v.m_nPenalty = 0;
        v.m_nBonus = 2400;
        v.m_nTotalProfit = 20000;
        v.m_nStage = 3;
    }
    v.Paint();
    if (v.m_nStage != nStage || v.m_bHalted) {
        state.SkipWithError("the view is not on the screen asked for");
        return;
    }
    bench::CFrameCopy copy(v.FrameBuffer());
    bench::TimeAgainst(state, [&v] { v.Paint(); }, bench::MedianMicros(copy));
}
BENCHMARK(BM_Paint)
    ->ArgNames({"w", "h", "stage"})
    ->Args({1020, 700, 0})
    ->Args({1020, 700, 1})
    ->Args({1020, 700, 3})
    ->Args({1596, 1150, 0})
    ->Args({1596, 1150, 1})
    ->Args({1596, 1150, 3})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The printed page on a letter page at 300 dots per inch (2550 x 3300),
// through the painter device context: the title screen's page (stage 0) and
// the page after a game (stage 3, with the results).
void BM_PrintPage300dpi(benchmark::State& state)
{
    const int nStage = int(state.range(0));
    auto pView = bench::MakeView(1020, 700, 2);
    CSlabixView& v = *pView;
    if (nStage == 3) {
        v.OnKeyDown(VK_SPACE, 1, 0);
        std::copy(std::begin(kLayout2Solution), std::end(kLayout2Solution), v.m_rcStone);
        v.OnKeyDown(VK_SPACE, 1, 0);
        v.OnKeyDown(VK_END, 1, 0);
    }
    if (v.m_nStage != nStage) {
        state.SkipWithError("the view is not on the screen asked for");
        return;
    }
    QImage page(2550, 3300, QImage::Format_RGB32);
    auto print = [&] {
        QPainter painter(&page);
        CPainterDC dc(painter);
        CPrintInfo info;
        info.m_rectDraw = CRect(0, 0, page.width(), page.height());
        v.OnPrint(&dc, &info);
    };
    page.fill(Qt::white);
    print();
    if (page.pixel(1000, 300) == qRgb(255, 255, 255)) {
        state.SkipWithError("nothing was printed");
        return;
    }
    bench::CFrameCopy copy(page);
    bench::TimeAgainst(state, print, bench::MedianMicros(copy, 11), [&page] { page.fill(Qt::white); });
}
BENCHMARK(BM_PrintPage300dpi)->ArgName("stage")->Arg(0)->Arg(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
