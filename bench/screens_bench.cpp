// Whole screens: the End command from key-down to the drawn results screen, a
// full paint of each screen at the smallest and the largest client size, and
// the printed page at 300 dots per inch. The references do the same kind of
// work at its floor: the screens' texts drawn already broken into lines, the
// scan's bytes read in rows, or (the board and the page, which are fills) the
// target's bytes copied once.
#include "bench/BenchSupport.h"

#include <QPainter>

namespace {

// A perfect arrangement of layout 2: the patio fully covered, the bonus paid.
constexpr CRect kLayout2Solution[NUM_STONES] = {
    {853, 591, 923, 639}, {923, 591, 1003, 639}, {773, 543, 853, 639}, {693, 495, 773, 639},
    {613, 447, 693, 639}, {853, 543, 1003, 591}, {773, 495, 1003, 543}, {693, 447, 1003, 495},
    {613, 399, 1003, 447}, {533, 351, 1003, 399}, {533, 399, 613, 639}, {451, 351, 533, 639},
};

const char kTitlePrompt[] =
    "To play, press the space bar. To print the instructions, press the Ctrl and P keys. \n"
    "To exit, press the Alt and F4 keys.";
const char kResultsPrompt[] =
    "To play again, press the space bar. To print the results and instructions, press the Ctrl and P keys. \n"
    "To exit, press the Alt and F4 keys.";
const char kCaption[] = "** Only stones within patio area are shown ";

// The title screen's texts drawn already broken, on its pale yellow.
void AddTitle(bench::CBrokenText& text, const CSlabixView& v)
{
    text.AddBlock(v.m_fontText, 0x00000000, v.m_rcText, v.m_strInstructions);
    text.AddBlock(v.m_fontText, 0x00C000FF, v.m_rcPrompt, QLatin1String(kTitlePrompt));
}

// The results screen as drawn after End: the patio picture's rectangle, the
// caption, the results text and the prompt, the texts already broken.
void AddResults(bench::CBrokenText& text, const CSlabixView& v)
{
    const int X = v.m_nUnitX, Y = v.m_nUnitY;
    const int nLeft = (v.m_rcClient.right - 554) / 2, nTop = v.m_rcClient.top + 3 * Y;
    text.AddFill(CRect(nLeft, nTop, nLeft + 554, nTop + 290), CR_DIRT);
    text.AddLine(v.m_fontSmall, 0x005C8C00, CPoint(nLeft + X, nTop + 290 + Y / 2), QLatin1String(kCaption));
    text.AddBlock(v.m_fontResults, 0x00C00000, v.m_rcWork, v.m_strResults);
    text.AddBlock(v.m_fontText, 0x00C000FF, v.m_rcPrompt, QLatin1String(kResultsPrompt));
}

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
    // The floor: the results screen drawn already broken (its one clear
    // included) and the scan's bytes read in rows.
    QImage image(v.FrameBuffer().size(), QImage::Format_RGB32);
    bench::CBrokenText results(image, 0x00FFFFFF);
    AddResults(results, v);
    const QImage& screen = v.FrameBuffer();
    auto floor = [&] {
        results();
        int nDirt = 0;
        for (int y = RC_PATIO.top + 1; y < RC_PATIO.bottom; ++y) {
            const auto* pRow = reinterpret_cast<const QRgb*>(screen.constScanLine(y));
            for (int x = RC_PATIO.left + 1; x < RC_PATIO.right; ++x)
                nDirt += pRow[x] == ToQRgb(CR_DIRT);
        }
        benchmark::DoNotOptimize(nDirt);
    };
    bench::TimeAgainst(state, [&v] { v.OnKeyDown(VK_END, 1, 0); }, bench::MedianMicros(floor), backToPlay);
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
    QImage image(v.FrameBuffer().size(), QImage::Format_RGB32);
    bench::CBrokenText text(image, nStage == 0 ? 0x00B4F0FF : 0x00FFFFFF, true);
    if (nStage == 0)
        AddTitle(text, v);
    else if (nStage == 3)
        AddResults(text, v);
    bench::CFrameCopy copy(v.FrameBuffer());
    const double dRef = nStage == 1 ? bench::MedianMicros(copy) : bench::MedianMicros([&] { text(); });
    bench::TimeAgainst(state, [&v] { v.Paint(); }, dRef);
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
