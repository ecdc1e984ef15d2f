#include "bench/BenchSupport.h"

#include "platform/Runtime.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

namespace bench {

namespace {
constexpr crt::time_t kFixedTime = 1040000000;  // a December afternoon in 2002
}  // namespace

double ThreadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

std::unique_ptr<CSlabixView> MakeView(int nWidth, int nHeight, int nLayout)
{
    crt::SetClock([] { return kFixedTime; });
    auto pView = std::make_unique<CSlabixView>();
    pView->m_nLayout = nLayout;
    for (int i = 0; i < NUM_STONES; ++i)
        pView->m_rcStone[i] = g_rcLayouts[nLayout][i];
    pView->SetClientSize(nWidth, nHeight);
    pView->Paint();
    return pView;
}

std::unique_ptr<CSlabixView> MakePlayingView(int nWidth, int nHeight, int nLayout)
{
    auto pView = MakeView(nWidth, nHeight, nLayout);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    return pView;
}

double MedianMicros(const std::function<void()>& fn, int nRuns)
{
    std::vector<double> times;
    fn();  // warm the caches once
    for (int i = 0; i < nRuns; ++i) {
        const double t0 = ThreadSeconds();
        fn();
        times.push_back(1e6 * (ThreadSeconds() - t0));
    }
    std::nth_element(times.begin(), times.begin() + nRuns / 2, times.end());
    return times[nRuns / 2];
}

CFrameCopy::CFrameCopy(const QImage& image) : m_image(image), m_copy(image.size(), image.format()) {}

void CFrameCopy::operator()()
{
    std::memcpy(m_copy.bits(), m_image.constBits(), std::size_t(m_image.sizeInBytes()));
    benchmark::DoNotOptimize(m_copy.bits());
    benchmark::ClobberMemory();
}

void TimeAgainst(benchmark::State& state, const std::function<void()>& fn, double dRefMicros,
                 const std::function<void()>& prepare)
{
    double dTotal = 0;
    for (auto _ : state) {
        if (prepare)
            prepare();
        const double t0 = ThreadSeconds();
        fn();
        benchmark::ClobberMemory();
        const double dSeconds = ThreadSeconds() - t0;
        state.SetIterationTime(dSeconds);
        dTotal += dSeconds;
    }
    const double dMeanMicros = state.iterations() ? 1e6 * dTotal / double(state.iterations()) : 0;
    state.counters["ref_us"] = dRefMicros;
    state.counters["x_ref"] = dRefMicros > 0 ? dMeanMicros / dRefMicros : 0;
}

}  // namespace bench
